#include "store/file_services.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <vector>

#include "platform/fault_injection.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

using test::FakeUiServices;
using test::readFile;
using test::TempFolder;
using test::writeFile;

class FileServicesTest : public ::testing::Test {
  protected:
    // Records every change of the wait cursor.
    struct CursorRecordingUi : FakeUiServices {
        std::vector<bool> cursor;
        void setWaitCursor(bool on) override {
            cursor.push_back(on);
            FakeUiServices::setWaitCursor(on);
        }
    };
    TempFolder dir;
    CursorRecordingUi ui;
};

TEST_F(FileServicesTest, removeFileDeletesStoredFilesAndLeavesLinkTargetsAlone) {
    const std::string stored = dir / "100.txt";
    writeFile(stored, "x");
    ASSERT_TRUE(platform::setAttributes(stored, platform::kStoredAttributes).ok());
    EXPECT_TRUE(RemoveFile(stored, ui).ok());
    EXPECT_FALSE(platform::pathExists(stored));

    const std::string target = dir / "target";
    writeFile(target, "keep");
    ::chmod(target.c_str(), 0644);
    ASSERT_EQ(::symlink(target.c_str(), (dir / "link").c_str()), 0);
    EXPECT_TRUE(RemoveFile(dir / "link", ui).ok());
    EXPECT_FALSE(platform::pathExists(dir / "link"));
    EXPECT_EQ(readFile(target), "keep");
    EXPECT_PERMISSIONS(target, 0644);

    // Where no retry can help, the delete ends at once.
    EXPECT_TRUE(RemoveFile(dir / "missing", ui).ok());

    writeFile(dir / "file", "x");
    EXPECT_TRUE(RemoveFile(dir / "file/below", ui).ok()) << "nothing can be below a file";
    EXPECT_EQ(readFile(dir / "file"), "x");

    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0700), 0);
    writeFile(dir / "folder/inside", "y");
    EXPECT_EQ(RemoveFile(dir / "folder", ui).error, EISDIR);
    EXPECT_EQ(readFile(dir / "folder/inside"), "y");
    EXPECT_EQ(ui.yields, 0) << "a delete that works or cannot work does not wait";
}

// A delete that keeps failing (a file open elsewhere on Windows, a locked folder) is retried,
// serving the window system meanwhile, until the limit; then the file keeps its attributes.
TEST_F(FileServicesTest, removeFileGivesUpOnAFileThatCannotBeDeleted) {
    const std::string file = dir / "file";
    writeFile(file, "kept");
    ASSERT_TRUE(platform::setAttributes(file, platform::kStoredAttributes).ok());
    int tries = 0;
    platform::setFaultHook([&](platform::Operation operation, std::string_view path, auto) {
        tries += operation == platform::Operation::kRemove && path == file;
        return operation == platform::Operation::kRemove ? EACCES : 0;
    });
    const Status removed = RemoveFile(file, ui, std::chrono::milliseconds(300));
    platform::setFaultHook({});
    EXPECT_EQ(removed.error, EACCES);
    EXPECT_GT(tries, 1);
    EXPECT_GT(ui.yields, 0);
    EXPECT_EQ(readFile(file), "kept");
    EXPECT_EQ(platform::getAttributes(file), platform::kStoredAttributes);
}

TEST_F(FileServicesTest, renameFileReplacesTheDestinationOrLeavesBothFiles) {
    writeFile(dir / "a", "new");
    writeFile(dir / "b", "old");
    ASSERT_TRUE(platform::setAttributes(dir / "a", platform::kStoredAttributes).ok());
    ASSERT_TRUE(platform::setAttributes(dir / "b", platform::kStoredAttributes).ok());

    ASSERT_TRUE(RenameFile(dir / "a", dir / "b", ui).ok());
    EXPECT_FALSE(platform::pathExists(dir / "a"));
    EXPECT_EQ(readFile(dir / "b"), "new");
    EXPECT_EQ(platform::getAttributes(dir / "b"), 0);

    EXPECT_TRUE(RenameFile(dir / "b", dir / "b", ui).ok());
    EXPECT_EQ(readFile(dir / "b"), "new") << "a rename onto itself keeps the file";

    // A failure leaves both files as they were.
    writeFile(dir / "dest", "old");
    EXPECT_EQ(RenameFile(dir / "missing", dir / "dest", ui).error, ENOENT);
    EXPECT_EQ(readFile(dir / "dest"), "old") << "the destination is not deleted first";

    // A folder that is not empty cannot be replaced by a file.
    writeFile(dir / "source", "src");
    ASSERT_TRUE(platform::setAttributes(dir / "source", platform::kStoredAttributes).ok());
    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0700), 0);
    writeFile(dir / "folder/x", "x");
    EXPECT_FALSE(RenameFile(dir / "source", dir / "folder", ui).ok());
    EXPECT_EQ(readFile(dir / "source"), "src");
    EXPECT_EQ(platform::getAttributes(dir / "source"), platform::kStoredAttributes);
}

TEST_F(FileServicesTest, shellMoveReplacesTheDestinationAndCreatesFolders) {
    writeFile(dir / "src", "content");
    writeFile(dir / "dest", "old");
    ASSERT_TRUE(platform::setAttributes(dir / "dest", platform::kStoredAttributes).ok());

    EXPECT_TRUE(ShellFileOp(dir / "src", dir / "dest", kShellMove, ui).ok());
    EXPECT_FALSE(platform::pathExists(dir / "src"));
    EXPECT_EQ(readFile(dir / "dest"), "content");
    EXPECT_EQ(ui.cursor, (std::vector<bool>{true, false}));

    EXPECT_TRUE(ShellFileOp(dir / "dest", dir / "new/deeper/file", kShellMove, ui).ok());
    EXPECT_EQ(readFile(dir / "new/deeper/file"), "content");
    EXPECT_PERMISSIONS(dir / "new", 0700);
    EXPECT_PERMISSIONS(dir / "new/deeper", 0700);

    EXPECT_EQ(ShellFileOp(dir / "gone", dir / "other", kShellMove, ui).error, ENOENT);
    EXPECT_FALSE(platform::pathExists(dir / "other"));
    writeFile(dir / "blocker", "");
    EXPECT_FALSE(ShellFileOp(dir / "new/deeper/file", dir / "blocker/x", kShellMove, ui).ok());
    EXPECT_EQ(readFile(dir / "new/deeper/file"), "content");
    EXPECT_EQ(ui.waitCursorDepth, 0);
}

TEST_F(FileServicesTest, shellCopyRenameDeleteAndUnknownCodes) {
    writeFile(dir / "a", "alpha");
    ASSERT_TRUE(platform::setAttributes(dir / "a", platform::kStoredAttributes).ok());
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "a").c_str(), times, 0), 0);
    writeFile(dir / "b", "old");

    EXPECT_TRUE(ShellFileOp(dir / "a", dir / "b", kShellCopy, ui).ok());
    EXPECT_EQ(readFile(dir / "a"), "alpha");
    EXPECT_EQ(readFile(dir / "b"), "alpha");
    EXPECT_EQ(platform::getAttributes(dir / "b"), platform::kStoredAttributes);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);

    EXPECT_TRUE(ShellFileOp(dir / "b", dir / "c", kShellRename, ui).ok());
    EXPECT_FALSE(platform::pathExists(dir / "b"));
    EXPECT_EQ(readFile(dir / "c"), "alpha");

    EXPECT_TRUE(ShellFileOp(dir / "c", "", kShellDelete, ui).ok());
    EXPECT_FALSE(platform::pathExists(dir / "c"));
    EXPECT_EQ(ShellFileOp(dir / "c", "", kShellDelete, ui).error, ENOENT);

    for (const int16_t code : {int16_t{-1}, int16_t{4}, int16_t{7}}) {
        EXPECT_EQ(ShellFileOp(dir / "a", dir / "d", code, ui).error, EINVAL);
    }
    EXPECT_EQ(readFile(dir / "a"), "alpha");
    EXPECT_FALSE(platform::pathExists(dir / "d"));
    EXPECT_EQ(ui.waitCursorDepth, 0);
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
    writeFile(source, content);
    ::chmod(source.c_str(), 0640);
    const struct timespec times[2] = {{1200000000, 0}, {1200000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    ASSERT_TRUE(platform::setAttributes(source, platform::kHidden | platform::kSystem).ok());
    const std::string target = other.path() + "/store/100.txt";
    ASSERT_TRUE(platform::makeFolders(other.path() + "/store").ok());
    writeFile(target, "old");

    ASSERT_TRUE(ShellFileOp(source, target, kShellMove, ui).ok());
    EXPECT_FALSE(platform::pathExists(source));
    EXPECT_EQ(readFile(target), content);
    EXPECT_EQ(platform::getAttributes(target), platform::kHidden | platform::kSystem);
    EXPECT_PERMISSIONS(target, 0640);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(test::namesIn(other.path() + "/store"), std::set<std::string>{"100.txt"})
        << "no temporary file is left";

    // And back, read-only, into a folder that does not exist yet.
    ASSERT_TRUE(platform::setAttributes(target, platform::kStoredAttributes).ok());
    ASSERT_TRUE(ShellFileOp(target, dir / "back/file", kShellMove, ui).ok());
    EXPECT_FALSE(platform::pathExists(target));
    EXPECT_EQ(readFile(dir / "back/file"), content);
    EXPECT_EQ(platform::getAttributes(dir / "back/file"), platform::kStoredAttributes);
}

}  // namespace
}  // namespace vantory
