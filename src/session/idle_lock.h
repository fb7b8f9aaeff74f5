#pragma once

#include <cstdint>
#include <optional>

#include "session/clock.h"

namespace vantory {

// When the window locks for want of use. Input restarts the count; when the idle time has
// passed while a command runs, the lock waits for the command to end, unless input comes
// first. The time is the idle minutes of vantory.conf, or a number of seconds given in their
// place (the end-to-end test locks after a few seconds).
class IdleLock {
  public:
    static constexpr int kLongestOverrideSeconds = 24 * 60 * 60;

    IdleLock(const Clock& clock, Timer& timer) : clock_(clock), timer_(timer) {}

    void setMinutes(int minutes) { minutes_ = minutes; }
    // Seconds that take the place of the minutes when above 0; a day at most.
    void setOverrideSeconds(int seconds) { overrideSeconds_ = seconds; }
    // The idle time in force, in milliseconds; 0 when the lock is off.
    int64_t intervalMilliseconds() const;

    // Keyboard or mouse input: the count starts again, and a lock waiting for a command to
    // end is forgotten (whoever left the window is back). The timer is left alone, which
    // would cost a system call for every move of the mouse; the time left is looked at when
    // it fires.
    void input();
    // The count starts now: the timer is set for the idle time, or stopped while locked or
    // with the lock off.
    void restart(bool locked);
    // The timer fired. True when the idle time has passed; the timer is then set for another
    // idle time. Else it is set for the time left.
    bool timerFired();
    // The idle time has passed. True: lock now. False while a command runs: the lock waits
    // for its end (see takeWaitingLock).
    bool lockDue(bool commandRunning);
    // Once the commands have ended: whether a lock waited for them. It is taken.
    bool takeWaitingLock();
    // The window has locked: nothing more to count until it is unlocked.
    void locked();

  private:
    const Clock& clock_;
    Timer& timer_;
    int minutes_ = 0;
    int overrideSeconds_ = 0;
    std::optional<int64_t> lastInput_;
    bool lockWaiting_ = false;
};

}  // namespace vantory
