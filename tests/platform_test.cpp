#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "platform/fault_injection.h"
#include "platform/fs_path.h"
#include "platform/platform.h"
#include "support/temp_folder.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace vantory {
namespace {

using namespace test;

// Whether the system refuses writing: no write bits on POSIX, the read-only attribute on Windows.
bool writeProtected(const std::string& path) {
#if defined(_WIN32)
    const DWORD attributes = ::GetFileAttributesW(platform::fsPath(path).c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << path;
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0;
#else
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return (st.st_mode & 0222) == 0;
#endif
}

TEST(Platform, attributesHideFilesFromTheExistenceTest) {
    TempFolder dir;
    const std::string file = dir / "a.txt";
    writeFile(file, "x");
    EXPECT_TRUE(platform::fileExists(file));
    EXPECT_EQ(platform::getAttributes(file), 0);

    ASSERT_TRUE(platform::setAttributes(file, platform::kReadOnly).ok());
    EXPECT_TRUE(platform::fileExists(file)) << "read-only files are seen";
    EXPECT_TRUE(writeProtected(file));

    for (const int hidden : {2, 4, 6, 7}) {
        ASSERT_TRUE(platform::setAttributes(file, hidden).ok());
        EXPECT_EQ(platform::getAttributes(file), hidden);
        EXPECT_FALSE(platform::fileExists(file)) << hidden;
    }
    ASSERT_TRUE(platform::setAttributes(file, 0).ok());
    EXPECT_TRUE(platform::fileExists(file));
    EXPECT_FALSE(writeProtected(file)) << "clearing gives write permission back";

    EXPECT_FALSE(platform::fileExists(dir.path())) << "a folder is no file";
    EXPECT_FALSE(platform::fileExists(dir / "missing"));
    EXPECT_FALSE(platform::getAttributes(dir / "missing").has_value());
    // They follow the file through a rename.
    ASSERT_TRUE(platform::setAttributes(file, 7).ok());
    ASSERT_TRUE(platform::renamePath(file, dir / "b").ok());
    EXPECT_EQ(platform::getAttributes(dir / "b"), 7);
    // Names are taken literally: POSIX names may hold wildcards, Windows names cannot.
#if defined(_WIN32)
    const std::string literal = dir / "ab";
#else
    const std::string literal = dir / "a*b?";
#endif
    writeFile(literal, "x");
    EXPECT_TRUE(platform::fileExists(literal));
    EXPECT_FALSE(platform::fileExists(dir / "a*"));
    EXPECT_FALSE(platform::fileExists(dir / "a?"));
}

#if !defined(_WIN32)
// Attributes make a file private, and clearing them gives back the bits it had (a file stored
// by an earlier version, its attributes recorded alone, gets the owner's write bit back). A
// link is never followed: neither its target's attributes nor its content are reached.
TEST(Platform, attributesKeepTheModeAndNeverFollowALink) {
    TempFolder dir;
    const std::string file = dir / "file", link = dir / "link";
    const struct {
        unsigned mode;
        const char* recorded;                  // as an earlier version left it, or nullptr
        unsigned stored, hiddenOnly, cleared;  // at attributes 7, at 6, at 0
    } cases[] = {{0664, nullptr, 0400, 0600, 0664},
                 {04711, nullptr, 0500, 0700, 04711},
                 {0444, nullptr, 0400, 0600, 0444},
                 {0444, "7", 0400, 0600, 0644}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        writeFile(file, "x");
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        if (c.recorded != nullptr) {
            ASSERT_EQ(::setxattr(file.c_str(), "user.vantory.attributes", c.recorded, 1, 0), 0);
        }
        for (const int attributes : {7, 7, 6, 7}) {
            ASSERT_TRUE(platform::setAttributes(file, attributes).ok());
            EXPECT_EQ(platform::getAttributes(file), attributes);
            EXPECT_PERMISSIONS(file, attributes == 7 ? c.stored : c.hiddenOnly);
        }
        ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
        EXPECT_FALSE(platform::isRegularFile(link) || platform::fileExists(link));
        EXPECT_EQ(platform::getAttributes(link), std::nullopt);
        EXPECT_EQ(platform::setAttributes(link, 0).error, ELOOP);
        platform::InputFile in;
        EXPECT_EQ(in.open(link).error, ELOOP);
        EXPECT_EQ(platform::readWholeFile(link), std::nullopt);
        ASSERT_TRUE(platform::removeFile(link).ok());
        ASSERT_TRUE(platform::setAttributes(file, 0).ok());
        EXPECT_PERMISSIONS(file, c.cleared);
        ASSERT_TRUE(platform::removeFile(file).ok());
    }
}
#endif

// One file however its path is spelt; another file, or nothing, is not it. A link is not its
// target, unless a closing separator asks for the folder it leads to.
TEST(Platform, sameFileComparesIdentityNotSpelling) {
    TempFolder dir;
    writeFile(dir / "a", "x");
    writeFile(dir / "b", "x");
    EXPECT_TRUE(platform::sameFile(dir / "a", dir.path() + "//./a"));
    EXPECT_FALSE(platform::sameFile(dir / "a", dir / "b"));
    EXPECT_FALSE(platform::sameFile(dir / "missing", dir / "missing"));
#if !defined(_WIN32)
    ASSERT_EQ(::symlink((dir / "a").c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "folder").c_str()), 0);
    EXPECT_FALSE(platform::sameFile(dir / "a", dir / "link"));
    EXPECT_FALSE(platform::sameFile(dir / "folder", dir.path()));
    EXPECT_TRUE(platform::sameFile(dir / "folder/", dir.path() + "/"));
#endif
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
    EXPECT_PERMISSIONS(target, 0600u);
    EXPECT_EQ(test::namesIn(dir.path()), std::set<std::string>{"settings"})
        << "no temporary file is left beside the target";
    const std::string longest = dir / std::string(255, 'n');
    ASSERT_TRUE(platform::writeFileAtomically(longest, "content").ok());
    EXPECT_EQ(platform::readWholeFile(longest), "content");
}

// A disk that fails part way through a file: the system's own error on a read or a write comes
// back as an error, never taken for the end of the file, and no copy is left.
TEST(Platform, aReadOrWriteThatFailsPartWayIsAnError) {
    TempFolder dir;
    const std::string from = dir / "from";
    writeFile(from, std::string(size_t{3} << 20, 'x'));  // pieces of a mebibyte, or 64 KiB
    for (const platform::Operation failing :
         {platform::Operation::kReadPiece, platform::Operation::kWrite}) {
        int seen = 0;
        platform::setFaultHook([&](platform::Operation operation, auto, auto) {
            return operation == failing && ++seen == 2 ? platform::kSystemRefuses : 0;
        });
        const platform::Status copied = platform::copyFile(from, dir / "to");
        seen = 0;
        const auto whole = platform::readWholeFile(from);
        platform::setFaultHook({});
        EXPECT_FALSE(copied.ok());
        EXPECT_EQ(whole.has_value(), failing == platform::Operation::kWrite);
        EXPECT_EQ(test::namesIn(dir.path()), std::set<std::string>{"from"});
    }
}

// Told to keep an existing destination, a file written whole, a copy and a move (within one
// file system and across two) fail with EEXIST and leave both files as they were.
TEST(Platform, keepingTheDestinationNeverReplacesIt) {
    TempFolder dir;
    // Another file system where there is one at hand.
    TempFolder other{std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : dir.path()};
    for (const std::string& to : {dir / "to", other / "to"}) {
        SCOPED_TRACE(to);
        const std::string from = dir / "from";
        writeFile(from, "new");
        writeFile(to, "mine");
        platform::AtomicFile file(to, 0600, platform::Existing::kKeep);
        ASSERT_TRUE(file.open().ok());
        ASSERT_TRUE(file.write("new").ok());
        EXPECT_EQ(file.commit().error, EEXIST);
        EXPECT_EQ(platform::copyFile(from, to, platform::Existing::kKeep).error, EEXIST);
        EXPECT_EQ(platform::movePathKeeping(from, to).error, EEXIST);
        EXPECT_EQ(readFile(from), "new");
        EXPECT_EQ(readFile(to), "mine");
        ASSERT_TRUE(platform::removeFile(to).ok());
        // A rename leaves its folder to the caller's one sync; a copy across file systems,
        // flushed with its folder before the source goes, leaves the source's folder.
        std::vector<std::string> unsynced;
        EXPECT_TRUE(platform::movePathKeeping(from, to, &unsynced).ok());
        EXPECT_EQ(readFile(to), "new");
        EXPECT_FALSE(platform::pathExists(from));
#if !defined(_WIN32)
        EXPECT_EQ(unsynced, std::vector<std::string>{dir.path()});
#endif
    }
}

// The settings folder follows XDG_CONFIG_HOME; the instance lock in a folder is held once.
TEST(Platform, settingsFolderAndInstanceLock) {
    TempFolder dir;
    EXPECT_EQ(platform::lockInstance(dir.path()), platform::LockResult::kAcquired);
    EXPECT_EQ(platform::lockInstance(dir.path()), platform::LockResult::kHeldElsewhere);
    EXPECT_EQ(platform::lockInstance(dir / "missing"), platform::LockResult::kFailed);
    // A folder's lock: held once, and its file goes with it.
    platform::FolderLock first, second;
    EXPECT_EQ(first.acquire(dir.path(), ".lock"), platform::LockResult::kAcquired);
    EXPECT_EQ(second.acquire(dir.path(), ".lock"), platform::LockResult::kHeldElsewhere);
    first.release();
    EXPECT_FALSE(platform::pathExists(dir / ".lock"));
    EXPECT_EQ(second.acquire(dir.path(), ".lock"), platform::LockResult::kAcquired);
    const std::string expected = dir.useAsConfigHome();
    EXPECT_EQ(platform::settingsFolder(), expected);
    test::setEnvironment("XDG_CONFIG_HOME", "relative/path");  // not absolute: ignored
#if defined(_WIN32)
    // The roaming application-data folder, which wine and Windows name in APPDATA too.
    const char* appData = std::getenv("APPDATA");
    ASSERT_NE(appData, nullptr);
    EXPECT_EQ(platform::settingsFolder(), std::string(appData) + "\\vantory");
#else
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    test::setEnvironment("HOME", "/home/someone");
    EXPECT_EQ(platform::settingsFolder(), "/home/someone/.config/vantory");
    test::setEnvironment("HOME", home);
#endif
    dir.useAsConfigHome();
}

}  // namespace
}  // namespace vantory
