#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/catalogue.h"

namespace vantory {

// A text with the difference between capital and small letters taken away, as the toolkit
// knows the letters of every script: a path holds a filter when its folded form holds the
// folded filter.
using CaseFold = std::function<std::string(std::string_view)>;

// The entry Run Selected File opens, of the `selected` positions (ascending) and the current
// one (-1: none): the current one when it is selected, else the first selected one.
std::optional<size_t> EntryToRun(const std::vector<size_t>& selected, int current);

// The list beside the commands: one row for each catalogue entry whose path holds the filter
// text, in catalogue order. Each row stands for its entry's catalogue position, which is what
// the commands act on; a selection is kept as positions, so it outlives a change of the list.
class FilteredCatalogue {
  public:
    // What the list shows after a change: the rows to select and the current row (-1: none).
    struct Selection {
        std::vector<int> rows;
        int currentRow = -1;
    };

    // Shows the entries of `catalogue` whose paths hold `filter`, letters of either case alike
    // (`fold`); an empty filter shows every entry.
    void show(const Catalogue& catalogue, std::string_view filter, const CaseFold& fold);
    // The positions shown, row by row.
    const std::vector<size_t>& positions() const { return positions_; }
    size_t positionAt(int row) const { return positions_.at(static_cast<size_t>(row)); }
    // The row of `position`, -1 when it is not shown.
    int rowOf(size_t position) const;

    // After a change of the list: the selected positions still shown stay selected, and the
    // current position stays current, or passes to the next row shown (the last row when none
    // follows). No current row when there was none or the list is empty.
    Selection keep(const std::vector<size_t>& selected, int current) const;
    // Exactly the positions asked for that are shown; the current row is that of `current`
    // when shown, else the first row selected.
    Selection select(const std::vector<size_t>& positions, int current) const;

  private:
    std::vector<size_t> positions_;
};

}  // namespace vantory
