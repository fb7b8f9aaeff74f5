#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "store/move_journal.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

using test::readFile;
using test::writeFile;

struct Crash : std::runtime_error {
    Crash() : std::runtime_error("simulated crash") {}
};

class MoveJournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.useAsConfigHome();
        ASSERT_TRUE(GetSysDir(state).ok());
        state.strPassword = "pw";
        state.strStorageDir = dir.path() + "/store/";
        state.strExtension = "txt";
        prepare();
    }

    // Five entries, each stored file holding its own number; entries 0 and 2 have just been
    // restored, so their stored files are gone and the others wait to be renumbered.
    void prepare() {
        std::filesystem::remove_all(dir / "store");
        (void)platform::removeFile(JournalPath(state));
        ASSERT_TRUE(platform::makeFolder(dir / "store").ok());
        catalogue.clear();
        for (size_t p = 0; p < 5; ++p) {
            catalogue.append({"/home/u/file" + std::to_string(p), p % 2 == 0});
            if (p != 0 && p != 2) {
                writeFile(StoredPath(state, p), "content " + std::to_string(p));
            }
        }
        ASSERT_TRUE(saveList(state, catalogue, ui).ok());
    }

    // Entries 0 and 2 leave; the rest are renumbered.
    MovePlan removalPlan() {
        MovePlan plan{RenumberingMoves(state, {1, 3, 4}),
                      state.strPassword,
                      state.strStorageDir,
                      state.strExtension,
                      {}};
        for (const size_t p : {1, 3, 4}) {
            plan.catalogue.append(catalogue.at(p));
        }
        return plan;
    }

    void expectRenumbered() {
        Catalogue loaded;
        ASSERT_TRUE(loadList(state, loaded, ui).ok());
        ASSERT_EQ(loaded.size(), 3u);
        const size_t old[] = {1, 3, 4};
        for (size_t p = 0; p < 3; ++p) {
            EXPECT_EQ(loaded.at(p), catalogue.at(old[p]));
            EXPECT_EQ(readFile(StoredPath(state, p)), "content " + std::to_string(old[p]));
        }
        EXPECT_FALSE(platform::pathExists(JournalPath(state)));
        EXPECT_FALSE(platform::pathExists(JournalPath(state) + ".done"));
    }

    test::TempFolder dir;
    test::FakeUiServices ui;
    ProgramState state;
    Catalogue catalogue;
};

TEST_F(MoveJournalTest, renumberingMovesEachKeptFileOnceUpwards) {
    EXPECT_EQ(RenumberingMoves(state, {1, 3, 4}),
              (std::vector<PlannedMove>{{StoredPath(state, 1), StoredPath(state, 0)},
                                        {StoredPath(state, 3), StoredPath(state, 1)},
                                        {StoredPath(state, 4), StoredPath(state, 2)}}));
    EXPECT_TRUE(RenumberingMoves(state, {0, 1, 2}).empty());
}

TEST_F(MoveJournalTest, carriesOutThePlanAndSavesTheSettings) {
    const MoveOutcome outcome = CarryOutMoves(state, removalPlan(), platform::renamePath, ui);
    ASSERT_TRUE(outcome.status.ok()) << outcome.status.message();
    expectRenumbered();
}

TEST_F(MoveJournalTest, aFailedMoveMovesEverythingBackAndSavesNothing) {
    const std::string before = readFile(SettingsPath(state));
    int calls = 0;
    const auto failThird = [&](const std::string& from, const std::string& to) {
        return ++calls == 3 ? Status{EACCES} : platform::renamePath(from, to);
    };
    const MoveOutcome outcome = CarryOutMoves(state, removalPlan(), failThird, ui);
    EXPECT_EQ(outcome.status.error, EACCES);
    EXPECT_EQ(outcome.failedMove, 2u);
    EXPECT_EQ(readFile(SettingsPath(state)), before);
    for (const size_t p : {1, 3, 4}) {
        EXPECT_EQ(readFile(StoredPath(state, p)), "content " + std::to_string(p));
    }
    EXPECT_FALSE(platform::pathExists(StoredPath(state, 0)));
    EXPECT_FALSE(platform::pathExists(JournalPath(state)));
}

// A crash at every point, before or after each rename is counted, is completed at the next
// start with every file under the right number.
TEST_F(MoveJournalTest, aCrashAnywhereIsCompletedAtTheNextStart) {
    const MovePlan plan = removalPlan();
    for (int crashAt = 0; crashAt <= 2 * static_cast<int>(plan.moves.size()); ++crashAt) {
        SCOPED_TRACE(crashAt);
        prepare();
        int step = 0;
        const auto crashing = [&](const std::string& from, const std::string& to) {
            if (step++ * 2 == crashAt) {
                throw Crash();  // before this rename
            }
            Status s = platform::renamePath(from, to);
            if (step * 2 - 1 == crashAt) {
                throw Crash();  // after it, before it is counted
            }
            return s;
        };
        try {
            (void)CarryOutMoves(state, removalPlan(), crashing, ui);
        } catch (const Crash&) {
        }

        ProgramState restarted;
        restarted.strSystemDir = state.strSystemDir;
        ASSERT_TRUE(ReadSettings(restarted, ui).ok());
        Catalogue loaded;
        ASSERT_TRUE(loadList(restarted, loaded, ui).ok());
        const auto outcome = CompleteInterruptedMoves(restarted, loaded, platform::renamePath, ui);
        if (crashAt < 2 * static_cast<int>(plan.moves.size())) {
            ASSERT_TRUE(outcome.has_value());
            EXPECT_TRUE(outcome->status.ok());
        }
        EXPECT_EQ(loaded.size(), 3u);
        expectRenumbered();
        EXPECT_FALSE(CompleteInterruptedMoves(restarted, loaded, platform::renamePath, ui));
    }
}

TEST_F(MoveJournalTest, aPlanThatCannotBeReadIsLeftAlone) {
    writeFile(JournalPath(state), "not a plan\r\n");
    Catalogue loaded;
    const auto outcome = CompleteInterruptedMoves(state, loaded, platform::renamePath, ui);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_FALSE(outcome->status.ok());
    EXPECT_TRUE(platform::pathExists(JournalPath(state)));
    EXPECT_EQ(readFile(StoredPath(state, 4)), "content 4");
}

}  // namespace
}  // namespace vantory
