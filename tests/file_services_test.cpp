#include "store/file_services.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <vector>

#include "platform/fault_injection.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

using namespace test;

class FileServicesTest : public ::testing::Test {
  protected:
    // A file with `content`, `attributes` and a modification time of 10^9 seconds.
    void make(const std::string& name, const std::string& content, int attributes = 0) {
        ASSERT_TRUE(platform::makeFolders(platform::parentFolder(dir / name)).ok());
        writeFile(dir / name, content);
        const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (dir / name).c_str(), times, 0), 0);
        ASSERT_TRUE(platform::setAttributes(dir / name, attributes).ok());
    }

    // Each path's (in `dir` unless absolute) content, attributes and whether its time stayed;
    // "-" for nothing there.
    std::string seen(const std::vector<std::string>& names) const {
        std::string all;
        for (const std::string& name : names) {
            const std::string path = name.starts_with('/') ? name : dir / name;
            struct stat st {};
            all += all.empty() ? "" : " | ";
            all += ::lstat(path.c_str(), &st) != 0
                       ? "-"
                       : readFile(path) + " " +
                             std::to_string(platform::getAttributes(path).value_or(-1)) +
                             (st.st_mtim.tv_sec == 1000000000 ? " kept" : " new");
        }
        return all;
    }

    TempFolder dir;
    int yields = 0;
    Pacer pacer{[this] { ++yields; }, std::chrono::microseconds(0)};
};

TEST_F(FileServicesTest, removeFileDeletesStoredFilesAndLeavesLinkTargetsAlone) {
    make("100.txt", "x", platform::kStoredAttributes);
    make("target", "keep");
    ::chmod((dir / "target").c_str(), 0644);
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
    make("file", "x");
    make("folder/inside", "y");
    EXPECT_TRUE(RemoveFile(dir / "100.txt", &pacer).ok());
    EXPECT_TRUE(RemoveFile(dir / "link", &pacer).ok());
    // Where no retry can help, the delete ends at once: nothing there, nothing below a file.
    EXPECT_TRUE(RemoveFile(dir / "missing", &pacer).ok());
    EXPECT_TRUE(RemoveFile(dir / "file/below", &pacer).ok());
    EXPECT_EQ(RemoveFile(dir / "folder", &pacer).error, EISDIR);
    EXPECT_EQ(seen({"100.txt", "link", "target", "file", "folder/inside"}),
              "- | - | keep 0 kept | x 0 kept | y 0 kept");
    EXPECT_PERMISSIONS(dir / "target", 0644);
    EXPECT_EQ(yields, 0) << "a delete that works or cannot work does not wait";
}

// A delete that keeps failing (a file open elsewhere on Windows, a locked folder) is retried,
// serving the window system meanwhile, until the limit; then the file keeps its attributes.
TEST_F(FileServicesTest, removeFileGivesUpOnAFileThatCannotBeDeleted) {
    const std::string file = dir / "file";
    make("file", "kept", platform::kStoredAttributes);
    int tries = 0;
    platform::setFaultHook([&](platform::Operation operation, std::string_view path, auto) {
        tries += operation == platform::Operation::kRemove && path == file;
        return operation == platform::Operation::kRemove ? EACCES : 0;
    });
    const Status removed = RemoveFile(file, &pacer, std::chrono::milliseconds(300));
    platform::setFaultHook({});
    EXPECT_EQ(removed.error, EACCES);
    EXPECT_GT(tries, 1);
    EXPECT_GT(yields, 0);
    EXPECT_EQ(seen({"file"}), "kept 7 kept");
}

TEST_F(FileServicesTest, renameAndShellMoveReplaceTheDestinationOrChangeNothing) {
    make("a", "alpha", platform::kStoredAttributes);
    make("b", "old", platform::kStoredAttributes);
    ASSERT_TRUE(RenameFile(dir / "a", dir / "b").ok());
    EXPECT_TRUE(RenameFile(dir / "b", dir / "b").ok()) << "a rename onto itself keeps it";
    EXPECT_EQ(seen({"a", "b"}), "- | alpha 0 kept");
    ASSERT_TRUE(platform::setAttributes(dir / "b", platform::kStoredAttributes).ok());
    // A failure leaves both files as they were: a missing source, a folder that is not empty.
    EXPECT_EQ(RenameFile(dir / "missing", dir / "b").error, ENOENT);
    make("folder/x", "x");
    EXPECT_FALSE(RenameFile(dir / "b", dir / "folder").ok());
    EXPECT_EQ(seen({"b", "folder/x"}), "alpha 7 kept | x 0 kept");

    EXPECT_TRUE(ShellFileOp(dir / "b", dir / "new/deeper/e").ok());
    EXPECT_EQ(seen({"b", "new/deeper/e"}), "- | alpha 7 kept");
    EXPECT_PERMISSIONS(dir / "new", 0700);
    EXPECT_PERMISSIONS(dir / "new/deeper", 0700);
    make("old", "old", platform::kStoredAttributes);
    EXPECT_TRUE(ShellFileOp(dir / "new/deeper/e", dir / "old").ok());
    EXPECT_EQ(seen({"new/deeper/e", "old"}), "- | alpha 7 kept");

    EXPECT_EQ(ShellFileOp(dir / "gone", dir / "other").error, ENOENT);
    make("blocker", "");
    EXPECT_FALSE(ShellFileOp(dir / "old", dir / "blocker/x").ok());
    EXPECT_EQ(seen({"old", "other"}), "alpha 7 kept | -");
}

dev_t deviceOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

TEST_F(FileServicesTest, shellMoveCrossesFileSystems) {
    if (!platform::isFolder("/dev/shm") || deviceOf("/dev/shm") == deviceOf(dir.path())) {
        GTEST_SKIP() << "no second file system at /dev/shm";
    }
    TempFolder other("/dev/shm");
    std::string content(300000, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 7 + i / 251);
    }
    const std::string source = dir / "file";
    make("file", content, platform::kHidden | platform::kSystem);
    ::chmod(source.c_str(), 0640);
    const std::string target = other.path() + "/store/100.txt";
    ASSERT_TRUE(platform::makeFolders(other.path() + "/store").ok());
    writeFile(target, "old");

    ASSERT_TRUE(ShellFileOp(source, target).ok());
    EXPECT_TRUE(seen({source, target}) == "- | " + content + " 6 kept");
    EXPECT_PERMISSIONS(target, 0640);
    EXPECT_EQ(namesIn(other.path() + "/store"), std::set<std::string>{"100.txt"})
        << "no temporary file is left";
    // And back, read-only, into a folder that does not exist yet.
    ASSERT_TRUE(platform::setAttributes(target, platform::kStoredAttributes).ok());
    ASSERT_TRUE(ShellFileOp(target, dir / "back/file").ok());
    EXPECT_TRUE(seen({target, "back/file"}) == "- | " + content + " 7 kept");
}

}  // namespace
}  // namespace vantory
