#include "session/idle_lock.h"

#include <algorithm>
#include <utility>

namespace vantory {

int64_t IdleLock::intervalMilliseconds() const {
    if (overrideSeconds_ > 0) {
        return int64_t{std::min(overrideSeconds_, kLongestOverrideSeconds)} * 1000;
    }
    return int64_t{std::max(minutes_, 0)} * 60 * 1000;
}

void IdleLock::input() {
    lastInput_ = clock_.nowMilliseconds();
    lockWaiting_ = false;
}

void IdleLock::restart(bool locked) {
    lastInput_ = clock_.nowMilliseconds();
    const int64_t interval = intervalMilliseconds();
    if (interval <= 0 || locked) {
        timer_.stop();
        return;
    }
    timer_.start(interval);
}

bool IdleLock::timerFired() {
    const int64_t interval = intervalMilliseconds();
    if (interval <= 0) {
        return false;
    }
    const int64_t idle = lastInput_ ? clock_.nowMilliseconds() - *lastInput_ : interval;
    if (idle < interval) {
        timer_.start(interval - idle);
        return false;
    }
    timer_.start(interval);
    return true;
}

bool IdleLock::lockDue(bool commandRunning) {
    if (commandRunning) {
        lockWaiting_ = true;
        return false;
    }
    return true;
}

bool IdleLock::takeWaitingLock() {
    return std::exchange(lockWaiting_, false);
}

void IdleLock::locked() {
    lockWaiting_ = false;
    timer_.stop();
}

}  // namespace vantory
