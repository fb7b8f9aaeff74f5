#include <gtest/gtest.h>
#include <sys/stat.h>

#include "store/preferences.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

TEST(PreferencesTest, readsTheIdleMinutesAndSaysWhatItCannotUse) {
    struct Case {
        const char* text;
        int minutes;
        bool problem;
    };
    const Case cases[] = {
        {"", kDefaultIdleLockMinutes, false},
        {"idle-lock-minutes=0\n", 0, false},
        {"# note\r\n  idle-lock-minutes = 25 \r\nother=1", 25, false},
        {"idle-lock-minutes=999", 999, false},
        {"idle-lock-minutes=1000", kDefaultIdleLockMinutes, true},
        {"idle-lock-minutes=-1", kDefaultIdleLockMinutes, true},
        {"idle-lock-minutes=5x", kDefaultIdleLockMinutes, true},
        {"idle-lock-minutes=", kDefaultIdleLockMinutes, true},
        {"idle-lock-minutes=3\nidle-lock-minutes=oops", 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Preferences preferences;
        const std::string problem = ParsePreferences(c.text, preferences);
        EXPECT_EQ(preferences.idleLockMinutes, c.minutes);
        EXPECT_EQ(!problem.empty(), c.problem) << problem;
    }
}

TEST(PreferencesTest, writingKeepsTheLinesOfOthersAndReadsBack) {
    test::TempFolder dir;
    const std::string path = dir / kPreferencesFileName;
    Preferences preferences;
    EXPECT_EQ(ReadPreferences(path, preferences), "") << "no file: the defaults";
    EXPECT_EQ(preferences.idleLockMinutes, kDefaultIdleLockMinutes);

    test::writeFile(path, "# mine\nlater-setting=yes\nidle-lock-minutes=4\nidle-lock-minutes=6\n");
    preferences.idleLockMinutes = 0;
    ASSERT_TRUE(WritePreferences(path, preferences).ok());
    EXPECT_EQ(test::readFile(path), "# mine\nlater-setting=yes\nidle-lock-minutes=0\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    Preferences read;
    EXPECT_EQ(ReadPreferences(path, read), "");
    EXPECT_EQ(read.idleLockMinutes, 0);
    EXPECT_EQ(FormatPreferences(read, "other=1"), "other=1\nidle-lock-minutes=0\n");

    // A folder in the file's place cannot be read, and cannot be written over.
    test::TempFolder other;
    ASSERT_TRUE(platform::makeFolder(other / kPreferencesFileName).ok());
    EXPECT_NE(ReadPreferences(other / kPreferencesFileName, read), "");
    EXPECT_FALSE(WritePreferences(other / kPreferencesFileName, read).ok());
}

}  // namespace
}  // namespace vantory
