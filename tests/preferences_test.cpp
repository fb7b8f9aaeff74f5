#include "store/preferences.h"

#include <gtest/gtest.h>
#include <filesystem>

#include "support/temp_folder.h"

namespace vantory {
namespace {

TEST(PreferencesTest, idleMinutesAreReadWrittenAndOtherLinesKept) {
    const std::pair<const char*, int> cases[] = {
        {"", kDefaultIdleLockMinutes},  {" idle-lock-minutes = 0 \r\nx=1", 0},
        {"idle-lock-minutes=999", 999}, {"idle-lock-minutes=1000", -1},
        {"idle-lock-minutes=5x", -1},   {"idle-lock-minutes=-1", -1},
    };
    for (const auto& [text, minutes] : cases) {
        Preferences preferences;
        const std::string problem = ParsePreferences(text, preferences);
        EXPECT_EQ(preferences.idleLockMinutes, minutes < 0 ? kDefaultIdleLockMinutes : minutes)
            << text;
        EXPECT_EQ(problem.empty(), minutes >= 0) << text;
    }
    Preferences preferences;
    EXPECT_EQ(ParsePreferences("idle-lock-minutes=x\nidle-lock-minutes=3\nidle-lock-minutes=-2\n",
                               preferences),
              "the lines \"idle-lock-minutes=x\" and \"idle-lock-minutes=-2\" do not give a number "
              "of minutes from 0 to 999");
    EXPECT_EQ(preferences.idleLockMinutes, 3);

    // The main window's place; a line that does not give one is passed over without a word.
    const std::pair<const char*, std::optional<WindowPlace>> places[] = {
        {"window=10,-20,900,500", WindowPlace{10, -20, 900, 500}},
        {" window = 0,0,1,1,maximized ", WindowPlace{0, 0, 1, 1, true}},
        {"window=1,2,3", std::nullopt},
        {"window=1,2,3,0", std::nullopt},
        {"window=1,2,3,4,", std::nullopt},
        {"window=1,2,3,4,max", std::nullopt},
        {"window=1, 2,3,4", std::nullopt},
        {"window=100001,0,5,5", std::nullopt},
    };
    for (const auto& [text, place] : places) {
        Preferences read;
        EXPECT_EQ(ParsePreferences(text, read), "") << text;
        EXPECT_EQ(read.window, place) << text;
    }

    test::TempFolder dir;
    const std::string path = dir / kPreferencesFileName;
    test::writeFile(
        path, "# mine\nwindow=1,1,1,1\nlater=yes\nidle-lock-minutes=4\nidle-lock-minutes=6\n");
    ASSERT_TRUE(WritePreferences(path, Preferences{0, std::nullopt}).ok());
    EXPECT_EQ(test::readFile(path), "# mine\nwindow=1,1,1,1\nlater=yes\nidle-lock-minutes=0\n")
        << "a place not known leaves its line";
    EXPECT_EQ(std::filesystem::status(path).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const Preferences written{0, WindowPlace{-5, 6, 700, 400, true}};
    ASSERT_TRUE(WritePreferences(path, written).ok());
    EXPECT_EQ(test::readFile(path),
              "# mine\nwindow=-5,6,700,400,maximized\nlater=yes\nidle-lock-minutes=0\n");
    Preferences read;
    EXPECT_EQ(ReadPreferences(dir / "none.conf", read), "") << "no file: the defaults";
    EXPECT_EQ(read.window, std::nullopt);
    EXPECT_EQ(ReadPreferences(path, read), "");
    EXPECT_EQ(std::pair(read.idleLockMinutes, read.window), std::pair(0, written.window));
}

}  // namespace
}  // namespace vantory
