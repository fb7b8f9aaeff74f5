#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vantory {

// One hidden file: the full path it came from, and whether its stored copy is sealed.
struct CatalogueEntry {
    std::string path;
    bool sealed = false;

    bool operator==(const CatalogueEntry&) const = default;
};

// The hidden files in the order they were hidden, never sorted. The entry at position p is
// stored under the name p + 100, so positions and stored names move together.
class Catalogue {
  public:
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const CatalogueEntry& at(size_t position) const { return entries_.at(position); }
    const std::vector<CatalogueEntry>& entries() const { return entries_; }

    void append(CatalogueEntry entry) { entries_.push_back(std::move(entry)); }
    void removeAt(size_t position) {
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
    }
    void clear() { entries_.clear(); }

    bool operator==(const Catalogue&) const = default;

  private:
    std::vector<CatalogueEntry> entries_;
};

}  // namespace vantory
