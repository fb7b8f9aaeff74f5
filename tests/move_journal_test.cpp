#include "store/move_journal.h"

#include <gtest/gtest.h>

#include "support/fake_ui_services.h"
#include "support/test_store.h"

namespace vantory {
namespace {

using namespace test;

// Carrying plans out, undoing and completing them is left to the tests of the commands that
// move stored files and to the crash table; a plan that cannot be read is not guessed at.
TEST(MoveJournal, aPlanThatCannotBeReadIsLeftAlone) {
    TempFolder dir;
    ProgramState state;
    ASSERT_NO_FATAL_FAILURE(settleUser(dir, state, "pw", "txt"));
    writeFile(StoredPath(state, 4), "content 4");
    writeFile(JournalPath(state), "not a plan\r\n");
    FakeUiServices ui;
    Catalogue loaded;
    const auto outcome = CompleteInterruptedMoves(state, loaded, platform::renamePath);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_FALSE(outcome->status.ok());
    EXPECT_EQ(readFile(JournalPath(state)), "not a plan\r\n");
    EXPECT_EQ(readFile(StoredPath(state, 4)), "content 4");
}

}  // namespace
}  // namespace vantory
