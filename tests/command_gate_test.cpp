#include "session/command_gate.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/fake_clock.h"

namespace vantory {
namespace {

class CommandGateTest : public ::testing::Test {
  protected:
    ProgramState state;
    CommandGate gate{state};
    test::FakeClock clock;
    test::FakeTimer timer{clock};
    IdleLock idleLock{clock, timer};
};

// The busy state of a command holds back a close, the lock and drops; the wait of Run
// Selected File for its second press holds back only drops and hand-overs.
TEST_F(CommandGateTest, whatABusyStateHoldsBack) {
    struct Row {
        const char* name;
        bool busy, fileOpen;
        bool running, drops, closes;
    };
    for (const Row& row : {Row{"idle", false, false, false, true, true},
                           Row{"a command", true, false, true, false, false},
                           Row{"an open file", true, true, false, false, true}}) {
        state.bolBusy = row.busy;
        state.bolTempFileOpen = row.fileOpen;
        EXPECT_EQ(gate.commandRunning(), row.running) << row.name;
        EXPECT_EQ(gate.takesDrops(), row.drops) << row.name;
        EXPECT_EQ(gate.mayClose(), row.closes) << row.name;
        EXPECT_EQ(gate.closeWaiting(), !row.closes) << row.name;
        EXPECT_EQ(gate.takeWaitingClose(), !row.closes) << row.name;
        EXPECT_FALSE(gate.takeWaitingClose()) << row.name << ": taken once";
    }
}

// Each step's controls: the list, the settings, Run, the tabs and the busy window.
TEST_F(CommandGateTest, theBusyStateSaysWhichControlsTheUserMayReach) {
    using Maybe = std::optional<bool>;
    struct Row {
        const char* name;
        bool fileOpen, running;
        bool list, settings;
        Maybe run, tabs, busyWindow;
        bool bytesForgotten;
    };
    for (const Row& row : {
             Row{"a command", false, true, false, false, false, false, true, true},
             Row{"still the command", false, true, false, false, false, false, true, false},
             Row{"its end", false, false, true, true, true, true, false, false},
             Row{"a file open", true, true, false, false, {}, {}, {}, true},
             Row{"put away", true, false, true, true, true, true, false, false},
         }) {
        state.bolTempFileOpen = row.fileOpen;
        state.fileBytes = {5, 9};
        const CommandGate::Controls c = gate.setBusy(row.running);
        EXPECT_EQ(state.bolBusy, row.running) << row.name;
        EXPECT_EQ(std::tuple(c.list, c.settings, c.run, c.tabs, c.busyWindow),
                  std::tuple(row.list, row.settings, row.run, row.tabs, row.busyWindow))
            << row.name;
        EXPECT_EQ(state.fileBytes == FileBytes{}, row.bytesForgotten) << row.name;
    }
}

TEST_F(CommandGateTest, theLockThenEachHandedOverListFollowTheCommands) {
    using Kind = CommandGate::Next::Kind;
    gate.handOver({"/a", "/b"});
    gate.handOver({"/c"});
    gate.started();
    gate.started();
    EXPECT_FALSE(gate.finished()) << "one still runs";
    EXPECT_TRUE(gate.commandRunning());
    idleLock.lockDue(true);
    EXPECT_EQ(gate.afterCommands(true, idleLock).kind, Kind::kNothing) << "still running";
    EXPECT_TRUE(gate.finished());
    EXPECT_EQ(gate.afterCommands(false, idleLock).kind, Kind::kNothing) << "locked or unloaded";
    EXPECT_EQ(gate.afterCommands(true, idleLock).kind, Kind::kLock) << "the lock first";
    state.bolBusy = state.bolTempFileOpen = true;
    EXPECT_EQ(gate.afterCommands(true, idleLock).kind, Kind::kNothing) << "an open file waits";
    state.bolBusy = state.bolTempFileOpen = false;
    for (const std::vector<std::string>& paths : {std::vector<std::string>{"/a", "/b"}, {"/c"}}) {
        const CommandGate::Next next = gate.afterCommands(true, idleLock);
        EXPECT_EQ(next.kind, Kind::kHide);
        EXPECT_EQ(next.paths, paths) << "in the order they came";
    }
    EXPECT_EQ(gate.afterCommands(true, idleLock).kind, Kind::kNothing);
}

// The idle lock, which the gate consults after the commands.
TEST_F(CommandGateTest, theIdleTimeIsTheMinutesOrTheSecondsGivenInTheirPlace) {
    struct Row {
        const char* name;
        int minutes, seconds;
        int64_t milliseconds;
    };
    for (const Row& row :
         {Row{"minutes", 5, 0, 300'000}, Row{"never", 0, 0, 0}, Row{"seconds win", 5, 3, 3'000},
          Row{"none below one", 5, -2, 300'000}, Row{"a day at most", 5, 100'000, 86'400'000}}) {
        idleLock.setMinutes(row.minutes);
        idleLock.setOverrideSeconds(row.seconds);
        EXPECT_EQ(idleLock.intervalMilliseconds(), row.milliseconds) << row.name;
    }
}

TEST_F(CommandGateTest, inputMovesTheLockWithoutTouchingTheTimer) {
    idleLock.setMinutes(1);
    idleLock.restart(false);
    EXPECT_EQ(timer.firesAt, 60'000);
    clock.now = 40'000;
    idleLock.input();
    EXPECT_EQ(timer.firesAt, 60'000) << "left alone on input";
    clock.now = 60'000;
    EXPECT_FALSE(idleLock.timerFired());
    EXPECT_EQ(timer.firesAt, 100'000) << "set for the time left";
    clock.now = 100'000;
    EXPECT_TRUE(idleLock.timerFired());
    EXPECT_EQ(timer.firesAt, 160'000) << "another idle time, should the lock wait";
    idleLock.locked();
    EXPECT_EQ(timer.firesAt, std::nullopt);
    idleLock.restart(true);
    EXPECT_EQ(timer.firesAt, std::nullopt) << "nothing counts while locked";
    idleLock.setMinutes(0);
    idleLock.restart(false);
    EXPECT_EQ(timer.firesAt, std::nullopt) << "never";
    EXPECT_FALSE(idleLock.timerFired());
}

TEST_F(CommandGateTest, aRunningCommandEndsBeforeTheLockUnlessInputComesFirst) {
    EXPECT_TRUE(idleLock.lockDue(false)) << "no command: at once";
    for (const bool input : {false, true}) {
        EXPECT_FALSE(idleLock.lockDue(true));
        if (input) {
            idleLock.input();
        }
        EXPECT_EQ(idleLock.takeWaitingLock(), !input);
        EXPECT_FALSE(idleLock.takeWaitingLock()) << "taken once";
    }
    idleLock.lockDue(true);
    idleLock.locked();
    EXPECT_FALSE(idleLock.takeWaitingLock()) << "the lock came another way";
}

}  // namespace
}  // namespace vantory
