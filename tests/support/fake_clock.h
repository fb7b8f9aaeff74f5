#pragma once

#include <optional>

#include "session/clock.h"

namespace vantory::test {

// A clock the test moves by hand, and a timer that remembers when it would fire.
class FakeClock : public Clock {
  public:
    int64_t nowMilliseconds() const override { return now; }
    int64_t now = 0;
};

class FakeTimer : public Timer {
  public:
    explicit FakeTimer(const FakeClock& clock) : clock_(clock) {}
    void start(int64_t milliseconds) override { firesAt = clock_.now + milliseconds; }
    void stop() override { firesAt.reset(); }
    std::optional<int64_t> firesAt;

  private:
    const FakeClock& clock_;
};

}  // namespace vantory::test
