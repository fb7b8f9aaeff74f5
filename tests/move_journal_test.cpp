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

// A plan that leads to the password "pw", `folder` and `extension`.
MovePlan planFor(const std::string& folder, const std::string& extension) {
    MovePlan plan;
    plan.password = "pw";
    plan.storageDir = folder;
    plan.extension = extension;
    return plan;
}

// Five stored files renumbered down by one (the first entry restored), the plan interrupted
// after each of its moves: completed, every entry has its own file. A plan of the counted kind
// says where to go on, and its first move replaces the copy the restore left; the other kind
// never replaces a file, and finds where to go on by itself.
TEST(MoveJournal, anInterruptedRenumberingGivesEachEntryItsOwnFile) {
    for (const bool counted : {false, true}) {
        for (size_t made = 0; made <= 4; ++made) {
            SCOPED_TRACE((counted ? "counted, made " : "made ") + std::to_string(made));
            TempFolder dir;
            ProgramState state;
            ASSERT_NO_FATAL_FAILURE(settleUser(dir, state, "pw", "txt"));
            MovePlan plan = planFor(state.strStorageDir, "txt");
            plan.counted = counted;
            for (size_t p = 0; p < 5; ++p) {
                writeFile(StoredPath(state, p), "content " + std::to_string(p));
                plan.catalogue.append({"/home/entry " + std::to_string(p), true});
            }
            if (!counted) {
                ASSERT_TRUE(platform::removeFile(StoredPath(state, 0)).ok());
            }
            plan.moves = RenumberingMoves(state, {1, 2, 3, 4});
            (void)plan.catalogue.removeAt(0);
            writeFile(JournalPath(state), EncodeJournal(plan, "pw"));
            // The last move made may not have been counted yet.
            writeFile(JournalPath(state) + ".done", std::string(made > 0 ? made - 1 : 0, 'x'));
            for (size_t k = 0; k < made; ++k) {
                ASSERT_TRUE(platform::renamePath(plan.moves[k].from, plan.moves[k].to).ok());
            }
            Catalogue loaded;
            const auto outcome = CompleteInterruptedMoves(state, loaded, platform::renamePath);
            ASSERT_TRUE(outcome && outcome->status.ok());
            EXPECT_EQ(loaded, plan.catalogue);
            for (size_t p = 0; p < 4; ++p) {
                EXPECT_EQ(readFile(StoredPath(state, p)), "content " + std::to_string(p + 1));
            }
            EXPECT_EQ(namesIn(state.strStorageDir).size(), 4u);
            EXPECT_EQ(namesIn(state.strSystemDir), std::set<std::string>{"regInfo.lst"});
        }
    }
}

// A move to another file system was copied whole, but its source not yet deleted: completing
// the plan copies it again and deletes the source, leaving one copy.
TEST(MoveJournal, aCopyWhoseSourceStayedIsFinished) {
    TempFolder dir;
    ProgramState state;
    ASSERT_NO_FATAL_FAILURE(settleUser(dir, state, "pw", "txt"));
    const std::string moved = dir / "moved/";
    MovePlan plan = planFor(moved, "txt");
    for (size_t p = 0; p < 2; ++p) {
        writeFile(StoredPath(state, p), "content " + std::to_string(p));
        plan.moves.push_back({StoredPath(state, p), moved + StoredName(p, "txt")});
        plan.catalogue.append({"/home/entry " + std::to_string(p), true});
    }
    writeFile(JournalPath(state), EncodeJournal(plan, "pw"));
    ASSERT_TRUE(platform::makeFolders(dir / "moved").ok());
    writeFile(plan.moves[0].to, "content 0");
    Catalogue loaded;
    const auto outcome = CompleteInterruptedMoves(state, loaded, platform::movePath);
    ASSERT_TRUE(outcome && outcome->status.ok());
    EXPECT_EQ(namesIn(dir / "store"), std::set<std::string>{});
    EXPECT_EQ(readFile(plan.moves[0].to), "content 0");
    EXPECT_EQ(readFile(plan.moves[1].to), "content 1");
}

// A file found at a destination is never replaced: the moves made go back, and nothing changes.
TEST(MoveJournal, aMoveOntoAFileIsRefusedAndTheOthersGoBack) {
    TempFolder dir;
    ProgramState state;
    ASSERT_NO_FATAL_FAILURE(settleUser(dir, state, "pw", "txt"));
    MovePlan plan = planFor(state.strStorageDir, "dat");
    for (size_t p = 0; p < 3; ++p) {
        writeFile(StoredPath(state, p), "content " + std::to_string(p));
        plan.moves.push_back({StoredPath(state, p), state.strStorageDir + StoredName(p, "dat")});
        plan.catalogue.append({"/home/entry " + std::to_string(p), true});
    }
    writeFile(plan.moves[1].to, "someone's");
    const MoveOutcome outcome = CarryOutMoves(state, plan, platform::renamePath);
    EXPECT_EQ(outcome.status.status.error, EEXIST);
    EXPECT_EQ(outcome.failedMove, std::optional<size_t>(1));
    EXPECT_EQ(readFile(plan.moves[1].to), "someone's");
    EXPECT_EQ(namesIn(state.strStorageDir),
              (std::set<std::string>{"100.txt", "101.txt", "102.txt", "101.dat"}));
    EXPECT_EQ(namesIn(state.strSystemDir), std::set<std::string>{});
}

}  // namespace
}  // namespace vantory
