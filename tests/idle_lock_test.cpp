#include "session/idle_lock.h"

#include <gtest/gtest.h>

#include "support/fake_clock.h"

namespace vantory {
namespace {

class IdleLockTest : public ::testing::Test {
  protected:
    test::FakeClock clock;
    test::FakeTimer timer{clock};
    IdleLock lock{clock, timer};
};

TEST_F(IdleLockTest, theIdleTimeIsTheMinutesOrTheSecondsGivenInTheirPlace) {
    struct Row {
        const char* name;
        int minutes, seconds;
        int64_t milliseconds;
    };
    for (const Row& row :
         {Row{"minutes", 5, 0, 300'000}, Row{"never", 0, 0, 0}, Row{"seconds win", 5, 3, 3'000},
          Row{"none below one", 5, -2, 300'000}, Row{"a day at most", 5, 100'000, 86'400'000}}) {
        lock.setMinutes(row.minutes);
        lock.setOverrideSeconds(row.seconds);
        EXPECT_EQ(lock.intervalMilliseconds(), row.milliseconds) << row.name;
    }
}

TEST_F(IdleLockTest, inputMovesTheLockWithoutTouchingTheTimer) {
    lock.setMinutes(1);
    lock.restart(false);
    EXPECT_EQ(timer.firesAt, 60'000);
    clock.now = 40'000;
    lock.input();
    EXPECT_EQ(timer.firesAt, 60'000) << "left alone on input";
    clock.now = 60'000;
    EXPECT_FALSE(lock.timerFired());
    EXPECT_EQ(timer.firesAt, 100'000) << "set for the time left";
    clock.now = 100'000;
    EXPECT_TRUE(lock.timerFired());
    EXPECT_EQ(timer.firesAt, 160'000) << "another idle time, should the lock wait";
    lock.locked();
    EXPECT_EQ(timer.firesAt, std::nullopt);
    lock.restart(true);
    EXPECT_EQ(timer.firesAt, std::nullopt) << "nothing counts while locked";
    lock.setMinutes(0);
    lock.restart(false);
    EXPECT_EQ(timer.firesAt, std::nullopt) << "never";
    EXPECT_FALSE(lock.timerFired());
}

TEST_F(IdleLockTest, aRunningCommandEndsBeforeTheLockUnlessInputComesFirst) {
    EXPECT_TRUE(lock.lockDue(false)) << "no command: at once";
    for (const bool input : {false, true}) {
        EXPECT_FALSE(lock.lockDue(true));
        if (input) {
            lock.input();
        }
        EXPECT_EQ(lock.takeWaitingLock(), !input);
        EXPECT_FALSE(lock.takeWaitingLock()) << "taken once";
    }
    lock.lockDue(true);
    lock.locked();
    EXPECT_FALSE(lock.takeWaitingLock()) << "the lock came another way";
}

}  // namespace
}  // namespace vantory
