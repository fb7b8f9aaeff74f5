#include "winui/win_clock.h"

#include <algorithm>

namespace vantory::winui {

namespace {
constexpr UINT_PTR kTimerId = 1;
}

int64_t Win32Clock::nowMilliseconds() const {
    return static_cast<int64_t>(::GetTickCount64());
}

Win32Timer::Win32Timer(std::function<void()> fired)
    : fired_(std::move(fired)), window_([this](UINT message, WPARAM, LPARAM) {
          if (message == WM_TIMER && active_) {
              fire();
          }
      }) {}

Win32Timer::~Win32Timer() {
    stop();
}

void Win32Timer::start(int64_t milliseconds) {
    // SetTimer takes at least USER_TIMER_MINIMUM and at most USER_TIMER_MAXIMUM (about 24 days).
    const auto delay = static_cast<UINT>(std::clamp<int64_t>(
        milliseconds, USER_TIMER_MINIMUM, static_cast<int64_t>(USER_TIMER_MAXIMUM)));
    active_ = ::SetTimer(window_.handle(), kTimerId, delay, nullptr) != 0;
}

void Win32Timer::stop() {
    if (active_) {
        ::KillTimer(window_.handle(), kTimerId);
        active_ = false;
    }
}

void Win32Timer::fire() {
    stop();  // a single shot; the handler may start it again
    fired_();
}

}  // namespace vantory::winui
