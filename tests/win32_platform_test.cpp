// The platform layer on Windows, checked against the system's own view of the files.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "commands/command_line.h"
#include "commands/storage_settings.h"
#include "platform/fault_injection.h"
#include "platform/fs_path.h"
#include "platform/platform.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"

namespace vantory {
namespace {

using platform::Operation;
using test::readFile;
using test::TempFolder;
using test::writeFile;

DWORD attributesOf(const std::string& path) {
    return ::GetFileAttributesW(platform::fsPath(path).c_str());
}

std::vector<std::wstring> namesIn(const std::string& folder) {
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(platform::fsPath(folder))) {
        names.push_back(entry.path().filename().wstring());
    }
    return names;
}

TEST(Win32Platform, attributesAreTheFilesOwn) {
    TempFolder dir;
    const std::string file = dir / "f";
    writeFile(file, "x");
    ASSERT_TRUE(::SetFileAttributesW(platform::fsPath(file).c_str(), FILE_ATTRIBUTE_ARCHIVE));
    for (int value = 0; value <= 7; ++value) {
        ASSERT_TRUE(platform::setAttributes(file, value).ok()) << value;
        const DWORD real = attributesOf(file);
        EXPECT_EQ(real & 7, static_cast<DWORD>(value));
        EXPECT_NE(real & FILE_ATTRIBUTE_ARCHIVE, 0u) << "other attributes stay";
        EXPECT_EQ(platform::getAttributes(file), value);
    }
    // Set by another program, seen here.
    ASSERT_TRUE(::SetFileAttributesW(platform::fsPath(file).c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(platform::getAttributes(file), platform::kHidden);
}

TEST(Win32Platform, renameReplacesADestinationWhateverItsAttributes) {
    TempFolder dir;
    for (const int earlier : {0, 1, 2, 4, 7}) {
        writeFile(dir / "from", "new");
        ASSERT_TRUE(platform::setAttributes(dir / "from", platform::kHidden).ok());
        writeFile(dir / "to", "old");
        ASSERT_TRUE(platform::setAttributes(dir / "to", earlier).ok());
        ASSERT_TRUE(platform::renamePath(dir / "from", dir / "to").ok()) << earlier;
        EXPECT_EQ(readFile(dir / "to"), "new");
        EXPECT_EQ(attributesOf(dir / "from"), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(platform::getAttributes(dir / "to"), platform::kHidden) << "the moved file's";
        ASSERT_TRUE(platform::setAttributes(dir / "to", 0).ok());
    }
    // And removal, as unlink(2), takes a read-only file too.
    ASSERT_TRUE(platform::setAttributes(dir / "to", platform::kStoredAttributes).ok());
    EXPECT_TRUE(platform::removeFile(dir / "to").ok());
    EXPECT_EQ(attributesOf(dir / "to"), INVALID_FILE_ATTRIBUTES);
}

// A write that fails at any step leaves the old file alone and nothing beside it.
TEST(Win32Platform, atomicWriteLeavesTheOldFileOrTheNewOne) {
    TempFolder dir;
    const std::string target = dir / "regInfo.lst";
    for (const Operation failing :
         {Operation::kCreate, Operation::kWrite, Operation::kFlush, Operation::kRename}) {
        writeFile(target, "old");
        platform::setFaultHook([failing](Operation operation, std::string_view, std::string_view) {
            return operation == failing ? ENOSPC : 0;
        });
        EXPECT_EQ(platform::writeFileAtomically(target, "new").error, ENOSPC);
        platform::setFaultHook({});
        EXPECT_EQ(readFile(target), "old") << static_cast<int>(failing);
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::wstring>{L"regInfo.lst"});
    }
    ASSERT_TRUE(platform::writeFileAtomically(target, "new").ok());
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::wstring>{L"regInfo.lst"});
}

// Started by lockInAnotherProcess, this program only tries the lock and exits with the result.
[[maybe_unused]] const bool kLockChild = [] {
    if (const wchar_t* folder = ::_wgetenv(L"VANTORY_LOCK_FOLDER")) {
        std::_Exit(static_cast<int>(platform::lockInstance(platform::pathString(folder))));
    }
    return false;
}();

platform::LockResult lockInAnotherProcess(const std::string& folder) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\"";
    ::SetEnvironmentVariableW(L"VANTORY_LOCK_FOLDER", platform::fsPath(folder).c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    DWORD code = 99;
    if (::CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &child)) {
        ::WaitForSingleObject(child.hProcess, INFINITE);
        ::GetExitCodeProcess(child.hProcess, &code);
        ::CloseHandle(child.hProcess);
        ::CloseHandle(child.hThread);
    }
    ::SetEnvironmentVariableW(L"VANTORY_LOCK_FOLDER", nullptr);
    return static_cast<platform::LockResult>(code);
}

TEST(Win32Platform, instanceLockHoldsAgainstAnotherProcess) {
    TempFolder dir;
    EXPECT_EQ(lockInAnotherProcess(dir.path()), platform::LockResult::kAcquired);
    EXPECT_EQ(lockInAnotherProcess(dir.path()), platform::LockResult::kAcquired)
        << "the lock ends with the process that held it";
    ASSERT_EQ(platform::lockInstance(dir.path()), platform::LockResult::kAcquired);
    EXPECT_EQ(lockInAnotherProcess(dir.path()), platform::LockResult::kHeldElsewhere);
}

TEST(Win32Platform, utf8NamesAreUtf16OnDisk) {
    TempFolder dir;
    const std::string name = "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x99\x82.txt";
    const std::wstring wide = L"caf\u00e9 \u65e5\u672c \U0001F642.txt";
    const std::string folder = dir / "\xc3\xa9t\xc3\xa9";
    ASSERT_TRUE(platform::makeFolders(folder + "\\deeper").ok());
    const std::string file = folder + "\\" + name;
    ASSERT_TRUE(platform::writeFileAtomically(file, "content").ok());
    EXPECT_EQ(namesIn(folder), (std::vector<std::wstring>{wide, L"deeper"}));
    EXPECT_EQ(platform::readWholeFile(file), "content");
    EXPECT_TRUE(platform::fileExists(file));
    EXPECT_EQ(platform::fileSize(file), 7u);
    ASSERT_TRUE(platform::movePath(file, folder + "/deeper/" + name).ok());
    EXPECT_EQ(namesIn(folder + "\\deeper"), std::vector<std::wstring>{wide});
    EXPECT_EQ(platform::baseName(folder + "\\deeper\\" + name), name);

    EXPECT_EQ(platform::writeFileAtomically(dir / "\xff", "x").error, EILSEQ);
    EXPECT_FALSE(platform::pathExists(dir / "\xff"));
}

TEST(Win32Platform, pathsSplitAtEitherSeparator) {
    const char* const cases[][2] = {{"C:\\a\\b.txt", "C:\\a"},
                                    {"C:\\a", "C:\\"},
                                    {"C:/a/b", "C:/a"},
                                    {"C:\\a/b", "C:\\a"},
                                    {"\\\\srv\\share\\x", "\\\\srv\\share"},
                                    {"a", ""}};
    for (const auto& [path, parent] : cases) {
        EXPECT_EQ(platform::parentFolder(path), parent) << path;
    }
    // Paths from the root of a drive or a share, and those that depend on the current drive
    // or folder, or name no share.
    for (const char* path : {"C:\\", "d:/x/", "\\\\srv\\share", "//srv/share/x\\"}) {
        EXPECT_TRUE(platform::isAbsolutePath(path)) << path;
    }
    for (const char* path : {"", "C:", "C:x\\", "\\x\\", "/x/", "1:\\", "\\\\srv", "\\\\srv\\",
                             "\\\\\\share\\", "x\\"}) {
        EXPECT_FALSE(platform::isAbsolutePath(path)) << path;
    }
}

// Files named on the command line are recorded by their full Windows path, ".." taken by the
// letters of the path as Windows takes it, never above a drive's root or a share.
TEST(Win32Platform, commandLinePathsAreFullWindowsPaths) {
    const char* const cases[][2] = {{"a.txt", "C:\\work\\a.txt"},
                                    {"..\\b/./c.txt", "C:\\b\\c.txt"},
                                    {"D:/x/../../y.txt", "D:\\y.txt"},
                                    {"\\\\srv\\share\\..\\z.txt", "\\\\srv\\share\\z.txt"},
                                    {"C:\\", "C:\\"}};
    for (const auto& [given, full] : cases) {
        EXPECT_EQ(AbsolutePath(given, "C:\\work"), full) << given;
    }
}

// Set Storage Folder takes a folder named the Windows way, and refuses one that is not from
// the root of a drive or share, does not end in a separator, or is on a drive not there.
TEST(Win32Platform, theStorageFolderIsNamedTheWindowsWay) {
    TempFolder dir;
    ProgramState state;
    ASSERT_NO_FATAL_FAILURE(test::settleUser(dir, state));
    writeFile(StoredPath(state, 0), "stored");
    Catalogue catalogue;
    catalogue.append({dir / "original.txt", true});
    test::FakeUiServices ui;
    ASSERT_TRUE(saveList(state, catalogue).ok());
    test::FakeBusy busy;
    CommandContext context{state, ui, catalogue, busy};
    const std::string relative = dir.path().substr(2) + "\\moved\\";  // without its drive
    for (const std::string& folder :
         {dir / "moved", relative, std::string("Q:\\no\\where\\"), dir / "moved\\"}) {
        ui.messages.clear();
        ui.inputAnswers = {folder};
        EXPECT_EQ(SetStorageDirCommand(context), folder == dir / "moved\\") << folder;
        EXPECT_EQ(ui.messages.size(), 1u);
    }
    EXPECT_EQ(state.strStorageDir, dir / "moved\\");
    EXPECT_EQ(readFile(dir / "moved\\100.dat"), "stored");
}

// The errno values the core tests for, from Windows' errors.
TEST(Win32Platform, errorsAreTheOnesOfPosix) {
    TempFolder dir;
    writeFile(dir / "file", "x");
    EXPECT_EQ(platform::probePath(dir / "file\\below").error, ENOTDIR);
    EXPECT_EQ(platform::probePath(dir / "file\\").error, ENOTDIR);
    EXPECT_EQ(platform::probePath(dir / "none\\below").error, ENOENT);
    EXPECT_EQ(platform::probePath(dir / "a*").error, ENOENT);
    EXPECT_EQ(platform::writeFileAtomically(dir / "file\\x", "y").error, ENOTDIR);
    EXPECT_EQ(platform::removeFile(dir.path()).error, EISDIR);
    // A file another program holds open without sharing its deletion.
    const HANDLE h = ::CreateFileW(platform::fsPath(dir / "file").c_str(), GENERIC_READ,
                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::removeFile(dir / "file").error, EBUSY);
    EXPECT_EQ(platform::renamePath(dir / "file", dir / "elsewhere").error, EBUSY);
    ::CloseHandle(h);
    EXPECT_TRUE(platform::removeFile(dir / "file").ok());
}

}  // namespace
}  // namespace vantory
