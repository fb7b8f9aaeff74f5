#include "session/filtered_catalogue.h"

#include <algorithm>

namespace vantory {

std::optional<size_t> EntryToRun(const std::vector<size_t>& selected, int current) {
    if (current >= 0 &&
        std::binary_search(selected.begin(), selected.end(), static_cast<size_t>(current))) {
        return static_cast<size_t>(current);
    }
    return selected.empty() ? std::nullopt : std::optional(selected.front());
}

void FilteredCatalogue::show(const Catalogue& catalogue, std::string_view filter,
                             const CaseFold& fold) {
    positions_.clear();
    const std::string folded = filter.empty() ? std::string() : fold(filter);
    for (size_t position = 0; position < catalogue.size(); ++position) {
        if (filter.empty() || fold(catalogue.at(position).path).find(folded) != std::string::npos) {
            positions_.push_back(position);
        }
    }
}

int FilteredCatalogue::rowOf(size_t position) const {
    const auto found = std::lower_bound(positions_.begin(), positions_.end(), position);
    return found != positions_.end() && *found == position
               ? static_cast<int>(found - positions_.begin())
               : -1;
}

FilteredCatalogue::Selection FilteredCatalogue::keep(const std::vector<size_t>& selected,
                                                     int current) const {
    Selection kept;
    for (const size_t position : selected) {
        if (const int row = rowOf(position); row >= 0) {
            kept.rows.push_back(row);
        }
    }
    if (current >= 0 && !positions_.empty()) {
        const auto next =
            std::lower_bound(positions_.begin(), positions_.end(), static_cast<size_t>(current));
        kept.currentRow = next == positions_.end() ? static_cast<int>(positions_.size()) - 1
                                                   : static_cast<int>(next - positions_.begin());
    }
    return kept;
}

FilteredCatalogue::Selection FilteredCatalogue::select(const std::vector<size_t>& positions,
                                                       int current) const {
    Selection chosen = keep(positions, -1);
    const int currentRow = current < 0 ? -1 : rowOf(static_cast<size_t>(current));
    if (currentRow >= 0) {
        chosen.currentRow = currentRow;
    } else if (!chosen.rows.empty()) {
        chosen.currentRow = *std::min_element(chosen.rows.begin(), chosen.rows.end());
    }
    return chosen;
}

}  // namespace vantory
