#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "platform/platform.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

using test::TempFolder;
using test::writeFile;

TEST(Platform, attributesHideFilesFromTheExistenceTest) {
    TempFolder dir;
    const std::string file = dir / "a.txt";
    writeFile(file, "x");
    EXPECT_TRUE(platform::fileExists(file));
    EXPECT_EQ(platform::getAttributes(file), 0);

    ASSERT_TRUE(platform::setAttributes(file, platform::kReadOnly).ok());
    EXPECT_TRUE(platform::fileExists(file)) << "read-only files are seen";
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only clears the write bits";

    for (const int hidden : {2, 4, 6, 7}) {
        ASSERT_TRUE(platform::setAttributes(file, hidden).ok());
        EXPECT_EQ(platform::getAttributes(file), hidden);
        EXPECT_FALSE(platform::fileExists(file)) << hidden;
    }
    ASSERT_TRUE(platform::setAttributes(file, 0).ok());
    EXPECT_TRUE(platform::fileExists(file));
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u) << "clearing gives the owner write permission back";

    EXPECT_FALSE(platform::fileExists(dir.path())) << "a folder is no file";
    EXPECT_FALSE(platform::fileExists(dir / "missing"));
    EXPECT_FALSE(platform::getAttributes(dir / "missing").has_value());
}

TEST(Platform, attributesFollowTheFileThroughARename) {
    TempFolder dir;
    writeFile(dir / "a", "x");
    ASSERT_TRUE(platform::setAttributes(dir / "a", 7).ok());
    ASSERT_TRUE(platform::renamePath(dir / "a", dir / "b").ok());
    EXPECT_EQ(platform::getAttributes(dir / "b"), 7);
}

TEST(Platform, fileNamesAreTakenLiterally) {
    TempFolder dir;
    writeFile(dir / "a*b?", "x");
    EXPECT_TRUE(platform::fileExists(dir / "a*b?"));
    EXPECT_FALSE(platform::fileExists(dir / "a*"));
}

TEST(Platform, atomicFileReplacesTheTargetOnlyOnCommit) {
    TempFolder dir;
    const std::string target = dir / "settings";
    writeFile(target, "old");
    {
        platform::AtomicFile file(target);
        ASSERT_TRUE(file.open().ok());
        ASSERT_TRUE(file.write("new").ok());
        EXPECT_EQ(test::readFile(target), "old");
    }  // dropped without commit
    EXPECT_EQ(test::readFile(target), "old");
    EXPECT_TRUE(platform::writeFileAtomically(target, "new").ok());
    EXPECT_EQ(test::readFile(target), "new");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++files;
    }
    EXPECT_EQ(files, 1) << "no temporary file is left beside the target";
}

TEST(Platform, atomicFileWorksForTheLongestFileName) {
    TempFolder dir;
    const std::string target = dir / std::string(255, 'n');
    ASSERT_TRUE(platform::writeFileAtomically(target, "content").ok());
    EXPECT_EQ(test::readFile(target), "content");
}

TEST(Platform, instanceLockIsHeldOnce) {
    TempFolder dir;
    EXPECT_EQ(platform::lockInstance(dir.path()), platform::LockResult::kAcquired);
    EXPECT_EQ(platform::lockInstance(dir.path()), platform::LockResult::kHeldElsewhere);
    EXPECT_EQ(platform::lockInstance(dir / "missing"), platform::LockResult::kFailed);
}

TEST(Platform, settingsFolderFollowsXdgConfigHome) {
    TempFolder dir;
    const std::string expected = dir.useAsConfigHome();
    EXPECT_EQ(platform::settingsFolder(), expected);
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    ::setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: ignored
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(platform::settingsFolder(), "/home/someone/.config/vantory");
    ::setenv("HOME", home.c_str(), 1);
    dir.useAsConfigHome();
}

}  // namespace
}  // namespace vantory
