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

}  // namespace
}  // namespace vantory
