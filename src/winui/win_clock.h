#pragma once

#include <functional>

#include "session/clock.h"
#include "winui/message_window.h"

namespace vantory::winui {

// The window model's clock and timer on Win32: the tick count, and SetTimer on a window of
// the timer's own, fired from the message loop.
class Win32Clock : public Clock {
  public:
    int64_t nowMilliseconds() const override;
};

class Win32Timer : public Timer {
  public:
    explicit Win32Timer(std::function<void()> fired);
    ~Win32Timer() override;
    void start(int64_t milliseconds) override;
    void stop() override;
    bool active() const { return active_; }
    // Fires it now, as its message would (for the tests, which do not wait).
    void fire();

  private:
    std::function<void()> fired_;
    MessageWindow window_;
    bool active_ = false;
};

}  // namespace vantory::winui
