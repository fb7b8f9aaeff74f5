#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>

namespace vantory {

// How far the file in hand has come: the bytes of it read so far, and its size.
struct FileBytes {
    uint64_t done = 0;
    uint64_t size = 0;
    bool operator==(const FileBytes&) const = default;
};

// Hands control back to the window system now and then during long work. tick() is cheap
// enough to call after every block; it only yields once `interval` has passed since the last
// yield, so pacing costs nothing measurable and never changes what the work produces.
class Pacer {
  public:
    using Clock = std::chrono::steady_clock;

    explicit Pacer(std::function<void()> yield,
                   std::chrono::microseconds interval = std::chrono::milliseconds(4))
        : yield_(std::move(yield)), interval_(interval), last_(Clock::now()) {}

    void tick() {
        const auto now = Clock::now();
        if (now - last_ >= interval_) {
            yield_();
            last_ = Clock::now();
        }
    }

    // Where streaming file work counts the bytes it reads, a piece at a time, so that the
    // window it yields to can show how far a large file has come; null: nothing is counted.
    void countBytesIn(FileBytes* bytes) { bytes_ = bytes; }
    FileBytes* fileBytes() const { return bytes_; }

  private:
    std::function<void()> yield_;
    std::chrono::microseconds interval_;
    Clock::time_point last_;
    FileBytes* bytes_ = nullptr;
};

// Calls tick() on a pacer that may be absent (no yielding wanted).
inline void tick(Pacer* pacer) {
    if (pacer != nullptr) {
        pacer->tick();
    }
}

}  // namespace vantory
