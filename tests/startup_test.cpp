#include <gtest/gtest.h>

#include "access/startup.h"
#include "cipher/cipher.h"
#include "store/settings_file.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

using test::readFile;

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        configDir = dir.useAsConfigHome();
        settingsFile = configDir + platform::kSeparator + "regInfo.lst";
    }

    test::TempFolder dir;
    std::string configDir;
    std::string settingsFile;
    test::FakeUiServices ui;
    ProgramState state;
};

TEST_F(StartupTest, firstStartWritesFactorySettingsAndSaysSo) {
    EXPECT_EQ(PrepareStart(state, ui), StartOutcome::kFactorySettings);
    const std::string storage = configDir + platform::kSeparator;
    EXPECT_EQ(readFile(settingsFile),
              "ekHwrLlhXK\r\n" + Seal(storage, SettingsKey) + "\r\npxOw\r\n");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text,
              "Program file not found.  Password reset to 'kumquat'\r\n"
              "Hidden file storage directory set to " +
                  storage +
                  "\r\n"
                  "Hidden file extension set to txt");
    EXPECT_EQ(ui.messages[0].style, 64);
    EXPECT_EQ(ui.messages[0].title, "Program file not found");
    EXPECT_EQ(state.strPassword, "kumquat");
    EXPECT_EQ(state.strStorageDir, storage);
    EXPECT_EQ(state.strExtension, "txt");
}

TEST_F(StartupTest, secondStartReadsTheFileSilently) {
    ASSERT_EQ(PrepareStart(state, ui), StartOutcome::kFactorySettings);
    ProgramState again;
    test::FakeUiServices quiet;
    EXPECT_EQ(PrepareStart(again, quiet), StartOutcome::kReady);
    EXPECT_TRUE(quiet.messages.empty());
    EXPECT_EQ(again.strPassword, "kumquat");
    EXPECT_EQ(again.strStorageDir, configDir + platform::kSeparator);
}

TEST_F(StartupTest, anotherInstanceEndsBeforeAnyFileIsWritten) {
    ui.anotherInstance = true;
    EXPECT_EQ(PrepareStart(state, ui), StartOutcome::kAnotherInstance);
    EXPECT_FALSE(platform::pathExists(settingsFile));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(StartupTest, unreadableSettingsFileIsReportedAndLeftAlone) {
    ASSERT_EQ(PrepareStart(state, ui), StartOutcome::kFactorySettings);
    const std::string path = settingsFile;
    test::writeFile(path, "too short\r\n");
    ProgramState again;
    test::FakeUiServices second;
    EXPECT_EQ(PrepareStart(again, second), StartOutcome::kFactorySettings);
    ASSERT_EQ(second.messages.size(), 1u);
    EXPECT_NE(second.messages[0].text.find(path), std::string::npos);
    EXPECT_EQ(again.strPassword, "kumquat");
    EXPECT_EQ(readFile(path), "too short\r\n");
}

TEST_F(StartupTest, settingsFolderThatCannotBeWrittenIsReportedWithThePath) {
    test::writeFile(dir / "config", "a file where the folder should be");
    EXPECT_EQ(PrepareStart(state, ui), StartOutcome::kFactorySettings);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find(settingsFile), std::string::npos);
    EXPECT_EQ(state.strPassword, "kumquat");
}

TEST(Password, comparisonIsExactAndCaseSensitive) {
    ProgramState state;
    state.strPassword = "Kumquat";
    EXPECT_TRUE(PasswordMatches(state, "Kumquat"));
    EXPECT_FALSE(PasswordMatches(state, "kumquat"));
    EXPECT_FALSE(PasswordMatches(state, "Kumquat "));
    state.strPassword.clear();
    EXPECT_TRUE(PasswordMatches(state, ""));
}

}  // namespace
}  // namespace vantory
