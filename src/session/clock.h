#pragma once

#include <cstdint>

namespace vantory {

// Time as the window model sees it, given by the toolkit (a fake in the tests): milliseconds
// from any fixed start, never going back.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual int64_t nowMilliseconds() const = 0;
};

// A single-shot timer the toolkit provides. When it fires, the toolkit calls the model that
// owns it; starting it again moves the shot, stopping it cancels it.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void start(int64_t milliseconds) = 0;
    virtual void stop() = 0;
};

}  // namespace vantory
