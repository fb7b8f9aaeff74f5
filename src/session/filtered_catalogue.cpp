#include "session/filtered_catalogue.h"

#include <algorithm>

namespace vantory {

namespace {

// The next character of `text` from `at`, moved past it: a code point of UTF-8, or a byte
// that does not start one.
char32_t NextCharacter(std::string_view text, size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xe  ? 3
                          : (lead >> 3) == 0x1e ? 4
                                                : 0;
    if (length <= 1 || at + length > text.size()) {
        ++at;
        return lead;
    }
    char32_t code = lead & (0x7f >> length);
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xc0) != 0x80) {
            ++at;
            return lead;
        }
        code = (code << 6) | (next & 0x3f);
    }
    at += length;
    return code;
}

// The small letter of a capital; other characters as they are.
char32_t Lower(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xc0 && c <= 0xde && c != 0xd7) ||  // Latin-1
        (c >= 0x391 && c <= 0x3ab && c != 0x3a2) ||                         // Greek
        (c >= 0x410 && c <= 0x42f)) {                                       // Cyrillic
        return c + 0x20;
    }
    if (c >= 0x400 && c <= 0x40f) {
        return c + 0x50;
    }
    if (c == 0x178) {
        return 0xff;
    }
    // Latin Extended-A pairs a capital with the small letter after it.
    if (c >= 0x100 && c <= 0x17f && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
        c != 0x178 && c != 0x17f) {
        const bool evenCapitals = c < 0x139 || (c >= 0x14a && c < 0x179);
        if ((c % 2 == 0) == evenCapitals) {
            return c + 1;
        }
    }
    return c;
}

std::u32string Folded(std::string_view text) {
    std::u32string folded;
    for (size_t at = 0; at < text.size();) {
        folded.push_back(Lower(NextCharacter(text, at)));
    }
    return folded;
}

}  // namespace

bool PathHoldsFilter(std::string_view path, std::string_view filter) {
    return filter.empty() || Folded(path).find(Folded(filter)) != std::u32string::npos;
}

std::optional<size_t> EntryToRun(const std::vector<size_t>& selected, int current) {
    if (current >= 0 &&
        std::binary_search(selected.begin(), selected.end(), static_cast<size_t>(current))) {
        return static_cast<size_t>(current);
    }
    return selected.empty() ? std::nullopt : std::optional(selected.front());
}

void FilteredCatalogue::show(const Catalogue& catalogue, std::string_view filter) {
    positions_.clear();
    for (size_t position = 0; position < catalogue.size(); ++position) {
        if (PathHoldsFilter(catalogue.at(position).path, filter)) {
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
