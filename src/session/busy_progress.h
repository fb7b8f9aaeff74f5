#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "session/clock.h"
#include "store/program_state.h"

namespace vantory {

// "Program is busy..." runs its dots one, two, three, one, ...; any other caption stays.
std::string NextBusyCaption(const std::string& caption);
// "12 MiB of 40 MiB": both counts in the first unit in which the size is below 10240, whole
// and never rounded up.
std::string BytesText(uint64_t done, uint64_t size);

// What the busy window shows, read from the program state at each tick of its timer: the
// progress line and bar, and, once a large file is in hand, a line with its bytes done for
// the rest of the window's life; while the operation has that one file, the bar follows its
// bytes. The first tick that finds the program no longer busy closes the window.
class BusyProgress {
  public:
    static constexpr int64_t kTickMilliseconds = 500;
    // Smaller files pass too quickly for a line of their own.
    static constexpr uint64_t kLargeFile = uint64_t{1} << 20;
    static constexpr int kBarSteps = 1000;  // of a single file's bytes

    struct Bar {
        bool shown = false;
        int maximum = 0, value = 0;
    };
    // What changes at a tick; what is left empty stays as it was.
    struct View {
        std::optional<std::string> status;  // the progress line
        std::optional<std::string> bytes;   // the line of bytes
        std::optional<Bar> bar;
        bool close = false;
    };

    // The timer starts now.
    BusyProgress(const ProgramState& state, Timer& timer);
    View tick();

  private:
    const ProgramState& state_;
    Timer& timer_;
    bool bytesShown_ = false;
};

}  // namespace vantory
