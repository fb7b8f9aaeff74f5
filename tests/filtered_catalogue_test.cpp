#include "session/filtered_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace vantory {
namespace {

// The toolkit folds the letters of every script; here those of ASCII are enough.
TEST(FilteredCatalogueTest, rowsStandForPositionsAndTheSelectionOutlivesAChange) {
    const CaseFold lower = [](std::string_view text) {
        std::string folded(text);
        std::transform(folded.begin(), folded.end(), folded.begin(), ::tolower);
        return folded;
    };
    Catalogue catalogue;
    for (const char* path : {"/Report.pdf", "/notes", "/old-report", "/report-3", "/d"}) {
        catalogue.append({path, false});
    }
    using Rows = std::vector<int>;
    using Positions = std::vector<size_t>;
    struct Row {
        const char* name;
        const char* filter;
        bool keep;  // after a change of the list, else a selection set by position
        Positions selected;
        int current;
        Rows rows;
        int currentRow;
    };
    for (const Row& row : {
             Row{"kept where shown", "report", true, {1, 2, 3}, 2, {1, 2}, 1},
             Row{"current passes to the next", "report", true, {}, 1, {}, 1},
             Row{"or the last row", "report", true, {}, 4, {}, 2},
             Row{"no current", "report", true, {0}, -1, {0}, -1},
             Row{"nothing shown", "zzz", true, {0}, 0, {}, -1},
             Row{"set: the shown ones", "", false, {0, 2, 7}, -1, {0, 2}, 0},
             Row{"set: current as asked", "report", false, {0, 3}, 3, {0, 2}, 2},
             Row{"set: current not shown", "report", false, {3, 2}, 4, {2, 1}, 1},
         }) {
        FilteredCatalogue list;
        list.show(catalogue, row.filter, lower);
        const FilteredCatalogue::Selection s = row.keep ? list.keep(row.selected, row.current)
                                                        : list.select(row.selected, row.current);
        EXPECT_EQ(s.rows, row.rows) << row.name;
        EXPECT_EQ(s.currentRow, row.currentRow) << row.name;
    }
}

TEST(FilteredCatalogueTest, runOpensTheCurrentEntryWhenSelectedElseTheFirstSelected) {
    using Positions = std::vector<size_t>;
    EXPECT_EQ(EntryToRun(Positions{1, 3}, 3), 3u);
    EXPECT_EQ(EntryToRun(Positions{1, 3}, 2), 1u);
    EXPECT_EQ(EntryToRun(Positions{}, 2), std::nullopt);
}

}  // namespace
}  // namespace vantory
