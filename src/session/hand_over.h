#pragma once

// The message through which a second start of Vantory hands the files named on its command
// line to the copy already running, whatever carries it (a local socket, a named pipe): a
// header of 16 bytes (magic, version, and the length of the rest, big-endian 32, 32 and 64
// bits), then the number of paths and each path as its length (32 bits) and its bytes.
// The running copy answers kWhole once it has read a whole message; the start then says
// kTake. A start that gave up before the answer never says it, and the copy takes nothing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantory {

class HandOver {
  public:
    static constexpr size_t kHeaderSize = 16;
    // The longest list of paths, in bytes of its message after the header, that is taken.
    static constexpr uint64_t kLongest = 16 * 1024 * 1024;
    static constexpr char kWhole = 'k';
    static constexpr char kTake = 't';

    // The whole message that hands `paths` over, header included.
    static std::string message(const std::vector<std::string>& paths);
};

// Reads one message as its bytes arrive, in pieces of any size up to wanted().
class HandOverReader {
  public:
    enum class State { kMore, kWhole, kRefused };

    // How many more bytes the message needs before its next step (0 once whole or refused).
    size_t wanted() const;
    // Takes bytes that arrived. kRefused: not a start of this program, or more than a command
    // line; kWhole: every path is in (more bytes after that refuse it).
    State take(std::string_view bytes);
    State state() const { return state_; }
    // The paths of a whole message.
    std::vector<std::string>& paths() { return paths_; }

  private:
    State state_ = State::kMore;
    std::string bytes_;
    uint64_t length_ = 0;  // of the body, once the header is in
    bool headerRead_ = false;
    std::vector<std::string> paths_;
};

}  // namespace vantory
