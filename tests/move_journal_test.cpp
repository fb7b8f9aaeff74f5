#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "store/move_journal.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

using namespace test;

class MoveJournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.useAsConfigHome();
        ASSERT_TRUE(GetSysDir(state).ok());
        state.strPassword = "pw";
        state.strStorageDir = dir.path() + "/store/";
        state.strExtension = "txt";
        // Five entries, each stored file holding its own number; entries 0 and 2 have just
        // been restored, so their stored files are gone and the others wait to be renumbered.
        ASSERT_TRUE(platform::makeFolder(dir / "store").ok());
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

    test::TempFolder dir;
    test::FakeUiServices ui;
    ProgramState state;
    Catalogue catalogue;
};

TEST_F(MoveJournalTest, carriesOutThePlanAndSavesTheSettings) {
    const MoveOutcome outcome = CarryOutMoves(state, removalPlan(), platform::renamePath, ui);
    ASSERT_TRUE(outcome.status.ok()) << outcome.status.message();
    Catalogue loaded;
    ASSERT_TRUE(loadList(state, loaded, ui).ok());
    ASSERT_EQ(loaded.size(), 3u);
    const size_t old[] = {1, 3, 4};
    for (size_t p = 0; p < 3; ++p) {
        EXPECT_EQ(loaded.at(p), catalogue.at(old[p]));
        EXPECT_EQ(readFile(StoredPath(state, p)), "content " + std::to_string(old[p]));
    }
    EXPECT_EQ(test::namesIn(dir / "config/vantory"), std::set<std::string>{"regInfo.lst"});
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
