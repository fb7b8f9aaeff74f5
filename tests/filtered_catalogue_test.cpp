#include "session/filtered_catalogue.h"

#include <gtest/gtest.h>

namespace vantory {
namespace {

TEST(FilteredCatalogueTest, aPathHoldsTheFilterInEitherCase) {
    struct Row {
        const char* name;
        const char* path;
        const char* filter;
        bool holds;
    };
    for (const Row& row : {
             Row{"empty filter", "/a", "", true},
             Row{"ascii", "/home/old-Report.pdf", "REPORT", true},
             Row{"latin-1", "/\xc3\x89t\xc3\xa9.jpg", "\xc3\xa9T\xc3\x89", true},  // Été, éTÉ
             Row{"latin extended",
                 "/\xc5\x81\xc3\xb3"
                 "d\xc5\xba",
                 "\xc5\x82\xc3\x93"
                 "D\xc5\xb9",
                 true},                                                       // Łódź, łÓDŹ
             Row{"greek", "/\xce\xb1\xce\xb2", "\xce\x91\xce\x92", true},     // αβ, ΑΒ
             Row{"cyrillic", "/\xd0\x81\xd0\xb6", "\xd1\x91\xd0\x96", true},  // Ёж, ёЖ
             Row{"not held", "/notes.txt", "report", false},
             Row{"a byte of no character",
                 "/x\xff"
                 "a",
                 "\xff"
                 "A",
                 true},
             Row{"only the whole character", "/\xc3\xa9", "\xc3", false},
         }) {
        EXPECT_EQ(PathHoldsFilter(row.path, row.filter), row.holds) << row.name;
    }
}

TEST(FilteredCatalogueTest, rowsStandForPositionsAndTheSelectionOutlivesAChange) {
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
        list.show(catalogue, row.filter);
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
