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

    test::TempFolder dir;
    const std::string path = dir / kPreferencesFileName;
    test::writeFile(path, "# mine\nlater=yes\nidle-lock-minutes=4\nidle-lock-minutes=6\n");
    ASSERT_TRUE(WritePreferences(path, Preferences{0}).ok());
    EXPECT_EQ(test::readFile(path), "# mine\nlater=yes\nidle-lock-minutes=0\n");
    EXPECT_EQ(std::filesystem::status(path).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    Preferences read;
    EXPECT_EQ(ReadPreferences(dir / "none.conf", read), "") << "no file: the defaults";
    EXPECT_EQ(ReadPreferences(path, read), "");
    EXPECT_EQ(read.idleLockMinutes, 0);
}

}  // namespace
}  // namespace vantory
