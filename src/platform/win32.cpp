// The platform layer on the Win32 API. Paths arrive as UTF-8 and become UTF-16 here, and
// only here; '/' and '\' both separate folders. Errors are translated to the errno values
// that the rest of the program tests for.

#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <tuple>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "platform/win32_detail.h"

namespace vantory::platform {

namespace detail {

std::optional<std::wstring> widen(std::string_view utf8) {
    if (utf8.empty()) {
        return std::wstring();
    }
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                        static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                          wide.data(), n);
    return wide;
}

std::string narrow(std::wstring_view wide) {
    if (wide.empty()) {
        return std::string();
    }
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                              n, nullptr, nullptr);
    }
    return utf8;
}

namespace {

bool separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Paths at least this long get the \\?\ prefix, which lifts the MAX_PATH limit (folders
// must leave room for an 8.3 name, hence 12 less).
constexpr size_t kLongPath = MAX_PATH - 12;

}  // namespace

std::optional<std::wstring> nativePath(std::string_view utf8) {
    const std::optional<std::wstring> wide = widen(utf8);
    if (!wide) {
        return std::nullopt;
    }
    // Backslashes only, and no doubled ones (but the two that open a UNC path), since
    // callers join with '/' and storage folders end in a separator of their own.
    std::wstring path;
    path.reserve(wide->size());
    for (size_t i = 0; i < wide->size(); ++i) {
        const wchar_t c = (*wide)[i];
        if (separator(c)) {
            if (i > 1 && !path.empty() && path.back() == L'\\') {
                continue;
            }
            path.push_back(L'\\');
        } else {
            path.push_back(c);
        }
    }
    const bool absolute = (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') ||
                          (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\');
    if (path.size() >= kLongPath && absolute && path.rfind(L"\\\\?\\", 0) != 0) {
        // The prefix turns off the system's own clean-up of the path, so it is done first.
        const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
        if (n > 0) {
            std::wstring full(n, L'\0');
            const DWORD got = ::GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
            if (got > 0 && got < n) {
                full.resize(got);
                path = full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2)
                                                   : L"\\\\?\\" + full;
            }
        }
    }
    return path;
}

int errnoFor(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS:
            return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_CURRENT_DIRECTORY:
        case ERROR_PRIVILEGE_NOT_HELD:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
        case ERROR_BUSY:
            return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        case ERROR_NOT_READY:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return ENODEV;
        default:
            return EIO;
    }
}

DWORD attributesOf(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str());
}

}  // namespace detail

using detail::nativePath;

namespace {

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;
// The attributes that SetFileAttributesW accepts besides the program's three.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                  FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;
constexpr DWORD kReplaceFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool isDirectory(DWORD attributes) {
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The attributes at `path`, or kNoAttributes (also for a path that is no valid UTF-8).
DWORD attributesAt(const std::string& path) {
    const auto wide = nativePath(path);
    return wide ? detail::attributesOf(*wide) : kNoAttributes;
}

BOOL setRawAttributes(const std::wstring& path, DWORD attributes) {
    attributes &=
        kKeptAttributes | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return ::SetFileAttributesW(path.c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes);
}

// Where a path cannot be found, POSIX tells a missing folder (ENOENT) from a file on the way
// (ENOTDIR); Windows says "path not found" for both, so the nearest existing folder above
// decides.
int missingError(const std::string& path) {
    std::string above = parentFolder(path);
    for (std::string previous = path; !above.empty() && above != previous;) {
        const DWORD attributes = attributesAt(above);
        if (attributes != kNoAttributes) {
            return isDirectory(attributes) ? ENOENT : ENOTDIR;
        }
        previous = above;
        above = parentFolder(above);
    }
    return ENOENT;
}

// The last Win32 error about `path` as a Status.
Status lastError(const std::string& path) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) {
        return Status{missingError(path)};
    }
    return Status{detail::errnoFor(error)};
}

Status notUtf8() {
    return Status{EILSEQ};
}

// Six letters and digits for a name that is not there yet. The names need not be secret:
// the file is created exclusively (CREATE_NEW), so a name planted by someone else only costs
// another try.
std::string uniqueSuffix() {
    static std::atomic<uint64_t> counter{0};
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    uint64_t x = static_cast<uint64_t>(now.QuadPart) ^
                 (static_cast<uint64_t>(::GetCurrentProcessId()) << 32) ^
                 (counter.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15ull);
    // splitmix64, so that neighbouring inputs give unrelated names
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    static constexpr char kAlphabet[] =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
        suffix.push_back(kAlphabet[x % 62]);
        x /= 62;
    }
    return suffix;
}

// Creates a new file `prefix` + six letters and digits, exclusively, open for writing, and
// returns its handle (kNoFile on failure, with `status` set) and its name.
constexpr int kUniqueTries = 100;

HANDLE createUnique(const std::string& prefix, std::string& name, Status& status) {
    for (int attempt = 0; attempt < kUniqueTries; ++attempt) {
        name = prefix + uniqueSuffix();
        const auto wide = nativePath(name);
        if (!wide) {
            status = notUtf8();
            return nullptr;
        }
        const HANDLE h = ::CreateFileW(wide->c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            status = Status::success();
            return h;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            status = lastError(name);
            return nullptr;
        }
    }
    status = Status{EEXIST};
    return nullptr;
}

// Puts in the place of `file` a handle on NUL opened with `access` alone (GENERIC_READ or
// GENERIC_WRITE), which the system refuses to use the other way (kSystemRefuses).
void swapForRefusing(HANDLE& file, DWORD access) {
    const HANDLE refusing =
        ::CreateFileW(L"NUL", access, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    if (refusing != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        file = refusing;
    }
}

Status writeAll(HANDLE h, const char* data, size_t size) {
    constexpr size_t kMostAtOnce = size_t{1} << 30;
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(size < kMostAtOnce ? size : kMostAtOnce);
        DWORD written = 0;
        if (!::WriteFile(h, data, chunk, &written, nullptr)) {
            return Status{detail::errnoFor(::GetLastError())};
        }
        data += written;
        size -= written;
    }
    return Status::success();
}

// MoveFileEx that also replaces a read-only destination, as rename(2) does: its read-only
// attribute is cleared for the move and put back when the move fails after all.
BOOL moveReplacing(const std::wstring& from, const std::wstring& to) {
    if (::MoveFileExW(from.c_str(), to.c_str(), kReplaceFlags)) {
        return TRUE;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = detail::attributesOf(to);
        if (attributes != kNoAttributes && !isDirectory(attributes) &&
            (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
            setRawAttributes(to, attributes & ~FILE_ATTRIBUTE_READONLY)) {
            if (::MoveFileExW(from.c_str(), to.c_str(), kReplaceFlags)) {
                return TRUE;
            }
            error = ::GetLastError();
            (void)setRawAttributes(to, attributes);
        }
    }
    ::SetLastError(error);
    return FALSE;
}

// MoveFileEx without replacing: an existing destination fails it with ERROR_ALREADY_EXISTS.
BOOL moveAs(const std::wstring& from, const std::wstring& to, Existing existing) {
    return existing == Existing::kKeep
               ? ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)
               : moveReplacing(from, to);
}

// DeleteFile that also deletes a read-only file, as unlink(2) does.
BOOL deleteAnyFile(const std::wstring& path) {
    if (::DeleteFileW(path.c_str())) {
        return TRUE;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = detail::attributesOf(path);
        if (attributes != kNoAttributes && !isDirectory(attributes) &&
            (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
            setRawAttributes(path, attributes & ~FILE_ATTRIBUTE_READONLY)) {
            if (::DeleteFileW(path.c_str())) {
                return TRUE;
            }
            error = ::GetLastError();
            (void)setRawAttributes(path, attributes);
        }
    }
    ::SetLastError(error);
    return FALSE;
}

std::optional<std::string> environment(const wchar_t* name) {
    const DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) {
        return std::nullopt;
    }
    std::wstring value(n, L'\0');
    const DWORD got = ::GetEnvironmentVariableW(name, value.data(), n);
    if (got == 0 || got >= n) {
        return std::nullopt;
    }
    value.resize(got);
    return detail::narrow(value);
}

// Where a folder (or a drive or share) begins: "C:\", "\\server\share\", "\"; 0 for none.
size_t rootLength(const std::string& path) {
    if (path.size() >= 3 && path[1] == ':' && isSeparator(path[2])) {
        return 3;
    }
    if (!path.empty() && isSeparator(path[0])) {
        return 1;
    }
    return 0;
}

}  // namespace

std::string settingsFolder() {
    std::string base;
    if (const auto config = environment(L"XDG_CONFIG_HOME"); config && isAbsolutePath(*config)) {
        base = *config;
    } else {
        PWSTR known = nullptr;
        if (SUCCEEDED(
                ::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, &known))) {
            base = detail::narrow(known);
        }
        ::CoTaskMemFree(known);
        if (base.empty()) {
            base = environment(L"APPDATA").value_or(std::string());
        }
    }
    for (char& c : base) {
        if (c == '/') {
            c = '\\';
        }
    }
    while (base.size() > rootLength(base) && isSeparator(base.back())) {
        base.pop_back();
    }
    return joinPath(base, "vantory");
}

Status makeFolder(const std::string& path, FileMode) {
    if (const int fault = injectedFault(Operation::kMakeFolder, path)) {
        return Status{fault};
    }
    const auto wide = nativePath(path);
    if (!wide) {
        return notUtf8();
    }
    if (!::CreateDirectoryW(wide->c_str(), nullptr)) {
        return lastError(path);
    }
    return Status::success();
}

namespace {
// A symbolic link or a junction: a reparse point that names another file.
bool isLinkAt(const std::string& path, DWORD attributes) {
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           isSymbolicLink(path);
}
}  // namespace

bool isRegularFile(const std::string& path) {
    const DWORD attributes = attributesAt(path);
    return attributes != kNoAttributes &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 &&
           !isLinkAt(path, attributes);
}

bool isFolder(const std::string& path) {
    return isDirectory(attributesAt(path));
}

PathKind pathKind(const std::string& path) {
    const DWORD attributes = attributesAt(path);
    if (attributes == kNoAttributes) {
        return PathKind::kNothing;
    }
    if (isLinkAt(path, attributes)) {
        return PathKind::kLink;
    }
    if (isDirectory(attributes)) {
        return PathKind::kFolder;
    }
    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? PathKind::kOther : PathKind::kRegularFile;
}

bool pathExists(const std::string& path) {
    return attributesAt(path) != kNoAttributes;
}

std::optional<uint64_t> fileSize(const std::string& path) {
    const auto wide = nativePath(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!wide || !::GetFileAttributesExW(wide->c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<int> getAttributes(const std::string& path) {
    const DWORD attributes = attributesAt(path);
    if (attributes == kNoAttributes || isLinkAt(path, attributes)) {
        return std::nullopt;
    }
    return static_cast<int>(attributes & kStoredAttributes);
}

Status setAttributes(const std::string& path, int attributes) {
    if (const int fault = injectedFault(Operation::kAttributes, path)) {
        return Status{fault};
    }
    const auto wide = nativePath(path);
    if (!wide) {
        return notUtf8();
    }
    const DWORD now = detail::attributesOf(*wide);
    if (now == kNoAttributes) {
        return lastError(path);
    }
    if (isLinkAt(path, now)) {
        return Status{ELOOP};
    }
    const DWORD wanted =
        (now & kKeptAttributes) | static_cast<DWORD>(attributes & kStoredAttributes);
    if (wanted == now) {
        return Status::success();  // nothing to write: every start sets them on every file
    }
    if (!setRawAttributes(*wide, wanted)) {
        return lastError(path);
    }
    return Status::success();
}

std::optional<FileMode> permissionBits(const std::string&) {
    return std::nullopt;
}

std::optional<FileMode> recordedPermissionBits(const std::string&) {
    return std::nullopt;
}

Status makePrivateFolder(const std::string&) {
    return Status::success();
}

Status removeFile(const std::string& path) {
    if (const int fault = injectedFault(Operation::kRemove, path)) {
        return Status{fault};
    }
    const auto wide = nativePath(path);
    if (!wide) {
        return notUtf8();
    }
    if (!deleteAnyFile(*wide)) {
        Status failed = lastError(path);
        if (failed.error == EACCES && isDirectory(detail::attributesOf(*wide))) {
            return Status{EISDIR};
        }
        return failed;
    }
    return Status::success();
}

namespace {

Status renameExisting(const std::string& from, const std::string& to, Existing existing) {
    if (const int fault = injectedFault(Operation::kRename, from, to)) {
        return Status{fault};
    }
    const auto wideFrom = nativePath(from);
    const auto wideTo = nativePath(to);
    if (!wideFrom || !wideTo) {
        return notUtf8();
    }
    if (*wideFrom == *wideTo) {
        // rename(2) onto itself does nothing when the file is there.
        return detail::attributesOf(*wideFrom) != kNoAttributes ? Status::success()
                                                                : lastError(from);
    }
    if (!moveAs(*wideFrom, *wideTo, existing)) {
        const Status failed = lastError(from);
        if (failed.error == EACCES && isDirectory(detail::attributesOf(*wideTo)) &&
            !isDirectory(detail::attributesOf(*wideFrom))) {
            return Status{EISDIR};
        }
        return failed;
    }
    return Status::success();
}

}  // namespace

Status renamePath(const std::string& from, const std::string& to) {
    return renameExisting(from, to, Existing::kReplace);
}

void syncFolder(const std::string&) {
    // MoveFileEx with MOVEFILE_WRITE_THROUGH returns once the rename is on disk, and NTFS
    // journals the creation of files and folders; Windows offers no flush of a folder.
}

std::string parentFolder(const std::string& path) {
    const auto last = path.find_last_of("/\\");
    if (last == std::string::npos) {
        return std::string();
    }
    const size_t root = rootLength(path);
    return path.substr(0, last < root ? root : last);
}

std::string baseName(const std::string& path) {
    const auto last = path.find_last_of("/\\");
    return last == std::string::npos ? path : path.substr(last + 1);
}

bool isAbsolutePath(const std::string& path) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (path.size() >= 3 && letter(path[0]) && path[1] == ':' && isSeparator(path[2])) {
        return true;
    }
    // \\server\share: two separators, then a server and a share name, neither empty.
    if (path.size() < 2 || !isSeparator(path[0]) || !isSeparator(path[1])) {
        return false;
    }
    const size_t server = path.find_first_of("/\\", 2);
    if (server == std::string::npos || server == 2) {
        return false;
    }
    const size_t share = path.find_first_of("/\\", server + 1);
    return (share == std::string::npos ? path.size() : share) > server + 1;
}

std::optional<std::string> privateRuntimeFolder(std::string* why) {
    if (why != nullptr) {
        *why = "local sockets on Windows are named pipes, which need no folder";
    }
    return std::nullopt;
}

std::optional<std::string> createUniqueFile(const std::string& prefix, Status* status) {
    Status result;
    std::optional<std::string> created;
    if (const int fault = injectedFault(Operation::kCreate, prefix)) {
        result = Status{fault};
    } else {
        std::string name;
        const HANDLE h = createUnique(prefix, name, result);
        if (h != nullptr) {
            ::CloseHandle(h);
            created = name;
        }
    }
    if (status != nullptr) {
        *status = result;
    }
    return created;
}

namespace {

// Flushes a finished file to disk. The fault point and the flush belong together: tests that
// find the kFlush before the rename of a temporary file count on the flush being there too.
Status flushToDisk(HANDLE file, const std::string& path) {
    if (const int fault = injectedFault(Operation::kFlush, path)) {
        return Status{fault};
    }
    return ::FlushFileBuffers(file) ? Status::success()
                                    : Status{detail::errnoFor(::GetLastError())};
}
}  // namespace

Status AtomicFile::open() {
    const std::string prefix = atomicFilePrefix(target_);
    if (const int fault = injectedFault(Operation::kCreate, target_)) {
        return Status{fault};
    }
    Status status;
    std::string name;
    const HANDLE h = createUnique(prefix, name, status);
    if (h == nullptr) {
        return status;
    }
    fd_ = h;
    temporaryPath_ = name;
    return Status::success();
}

Status AtomicFile::write(const void* data, size_t size) {
    if (!failure_.ok()) {
        return failure_;
    }
    if (fd_ == kNoFile) {
        return failure_ = Status{EBADF};
    }
    if (const int fault = injectedFault(Operation::kWrite, temporaryPath_)) {
        if (fault != kSystemRefuses) {
            return failure_ = Status{fault};
        }
        swapForRefusing(fd_, GENERIC_READ);
    }
    if (Status s = writeAll(fd_, static_cast<const char*>(data), size); !s.ok()) {
        return failure_ = s;
    }
    written_ += size;
    return Status::success();
}

Status AtomicFile::flush() {
    if (!failure_.ok()) {
        return failure_;
    }
    if (fd_ == kNoFile) {
        return Status{EBADF};
    }
    if (Status s = flushToDisk(fd_, temporaryPath_); !s.ok()) {
        return failure_ = s;
    }
    flushed_ = true;
    return Status::success();
}

Status AtomicFile::commit(bool syncTheFolder) {
    if (!failure_.ok()) {
        return failure_;
    }
    if (fd_ == kNoFile) {
        return Status{EBADF};
    }
    if (Status s = flushed_ ? Status::success() : flushToDisk(fd_, temporaryPath_); !s.ok()) {
        return failure_ = s;
    }
    const BOOL closed = ::CloseHandle(fd_);
    fd_ = kNoFile;
    if (!closed) {
        return failure_ = Status{detail::errnoFor(::GetLastError())};
    }
    if (Status s = renameExisting(temporaryPath_, target_, existing_); !s.ok()) {
        return failure_ = s;
    }
    temporaryPath_.clear();
    if (syncTheFolder) {
        syncFolder(parentFolder(target_));
    }
    return Status::success();
}

void AtomicFile::writeBehind() {
    // Windows' cache manager writes behind on its own; there is no call to hurry it along
    // without waiting, and FlushFileBuffers in commit() does the waiting.
}

void AtomicFile::discard() {
    if (fd_ != kNoFile) {
        ::CloseHandle(fd_);
        fd_ = kNoFile;
    }
    if (!temporaryPath_.empty() && injectedFault(Operation::kRemove, temporaryPath_) == 0) {
        if (const auto wide = nativePath(temporaryPath_)) {
            deleteAnyFile(*wide);  // it may have its attributes already, read-only among them
        }
        temporaryPath_.clear();
    }
}

bool echoTypedInput(bool on) {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || input == nullptr || !::GetConsoleMode(input, &mode)) {
        return false;
    }
    mode = on ? (mode | ENABLE_ECHO_INPUT) : (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    return ::SetConsoleMode(input, mode) != 0;
}

namespace {

// Opens `path` (made with `attributes` when missing) and locks it for this handle alone.
LockResult lockFile(const std::string& path, DWORD attributes, HANDLE& h) {
    h = INVALID_HANDLE_VALUE;
    const auto wide = nativePath(path);
    if (!wide) {
        return LockResult::kFailed;
    }
    // Locks belong to a handle, so a second handle, in this process or another, is refused.
    const HANDLE file = ::CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                      nullptr, OPEN_ALWAYS, attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return LockResult::kFailed;
    }
    OVERLAPPED at{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const bool held = ::GetLastError() == ERROR_LOCK_VIOLATION;
        ::CloseHandle(file);
        return held ? LockResult::kHeldElsewhere : LockResult::kFailed;
    }
    h = file;
    return LockResult::kAcquired;
}

}  // namespace

LockResult lockInstance(const std::string& folder) {
    // Deliberately never closed: the lock lasts as long as the process.
    HANDLE h = INVALID_HANDLE_VALUE;
    return lockFile(joinPath(folder, "vantory.lock"), FILE_ATTRIBUTE_NORMAL, h);
}

LockResult FolderLock::acquire(const std::string& folder, const std::string& name) {
    release();
    const std::string path = joinPath(folder, name);
    HANDLE h = INVALID_HANDLE_VALUE;
    const LockResult result = lockFile(path, FILE_ATTRIBUTE_HIDDEN, h);
    if (result == LockResult::kAcquired) {
        folder_ = folder;
        path_ = path;
        file_ = h;
    }
    return result;
}

void FolderLock::release() {
    if (file_ == kNoFile) {
        return;
    }
    ::CloseHandle(file_);
    file_ = kNoFile;
    // A copy that has the file open just then, to try the lock, keeps it until it lets go.
    if (const auto wide = nativePath(path_)) {
        ::DeleteFileW(wide->c_str());
    }
}

Status probePath(const std::string& path) {
    // A closing separator asks for a folder, as it does of lstat.
    size_t end = path.size();
    while (end > rootLength(path) && isSeparator(path[end - 1])) {
        --end;
    }
    const bool folderWanted = end < path.size();
    const std::string bare = path.substr(0, end);
    const auto wide = nativePath(bare);
    if (!wide) {
        return notUtf8();
    }
    const DWORD attributes = detail::attributesOf(*wide);
    if (attributes != kNoAttributes) {
        return folderWanted && !isDirectory(attributes) ? Status{ENOTDIR} : Status::success();
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_INVALID_NAME) {
        return Status{ENOENT};  // no file can have such a name, so none is there
    }
    ::SetLastError(error);
    return lastError(bare);
}

bool isSymbolicLink(const std::string& path) {
    const auto wide = nativePath(path);
    if (!wide) {
        return false;
    }
    WIN32_FIND_DATAW found{};
    const DWORD attributes = detail::attributesOf(*wide);
    if (attributes == kNoAttributes || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return false;
    }
    const HANDLE h = ::FindFirstFileW(wide->c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::FindClose(h);
    return found.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
           found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT;
}

namespace {

// The volume serial number and file id of what `path` names, as sameFile compares them.
std::optional<std::tuple<DWORD, DWORD, DWORD>> fileIdentity(const std::string& path) {
    const auto wide = nativePath(path);
    if (!wide) {
        return std::nullopt;
    }
    // No access is asked for, so a file others hold open is examined all the same.
    const DWORD throughLink = !path.empty() && isSeparator(path.back())
                                  ? 0
                                  : static_cast<DWORD>(FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE h = ::CreateFileW(wide->c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | throughLink, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    if (!known) {
        return std::nullopt;
    }
    return std::tuple{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
    const auto first = fileIdentity(a);
    return first && first == fileIdentity(b);
}

Status InputFile::open(const std::string& path) {
    close();
    path_ = path;
    if (const int fault = injectedFault(Operation::kRead, path)) {
        return Status{fault};
    }
    const auto wide = nativePath(path);
    if (!wide) {
        return notUtf8();
    }
    // The reparse point itself is opened, so that a link is seen instead of followed; any other
    // kind (a file kept in the cloud) is opened again as usual.
    HANDLE h = ::CreateFileW(wide->c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (h != INVALID_HANDLE_VALUE &&
        ::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        ::CloseHandle(h);
        if (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK ||
            tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT) {
            return Status{ELOOP};
        }
        h = ::CreateFileW(wide->c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) {
        const Status failed = lastError(path);
        return failed.error == EACCES && isDirectory(detail::attributesOf(*wide)) ? Status{EISDIR}
                                                                                  : failed;
    }
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        return Status{EINVAL};
    }
    fd_ = h;
    return Status::success();
}

Status InputFile::read(void* buffer, size_t size, size_t& got) {
    got = 0;
    if (fd_ == kNoFile) {
        return Status{EBADF};
    }
    if (const int fault = injectedFault(Operation::kReadPiece, path_)) {
        if (fault != kSystemRefuses) {
            return Status{fault};
        }
        swapForRefusing(fd_, GENERIC_WRITE);
    }
    char* p = static_cast<char*>(buffer);
    constexpr size_t kMostAtOnce = size_t{1} << 30;
    while (got < size) {
        const size_t left = size - got;
        DWORD n = 0;
        if (!::ReadFile(fd_, p + got, static_cast<DWORD>(left < kMostAtOnce ? left : kMostAtOnce),
                        &n, nullptr)) {
            return Status{detail::errnoFor(::GetLastError())};
        }
        if (n == 0) {
            break;
        }
        got += n;
        read_ += n;
    }
    return Status::success();
}

void InputFile::dropRead() {
    // The file is opened for a sequential scan, which lets the cache manager drop what has
    // been read without being asked.
    dropped_ = read_;
}

void InputFile::close() {
    if (fd_ != kNoFile) {
        ::CloseHandle(fd_);
        fd_ = kNoFile;
    }
    read_ = 0;
    dropped_ = 0;
}

void adviseHugePages(void*, size_t) {
    // Large pages on Windows need a privilege that an ordinary user does not hold.
}

namespace {

// Gives the temporary file of `out` the times and attributes that `from` has (`info`). The
// times are set through the handle that wrote the file, so closing it keeps them; the
// attributes come last, as they may make the file read-only.
Status copyMetadata(const WIN32_FILE_ATTRIBUTE_DATA& info, const AtomicFile& out) {
    if (const int fault = injectedFault(Operation::kAttributes, out.temporaryPath())) {
        return Status{fault};
    }
    if (!::SetFileTime(out.native(), nullptr, &info.ftLastAccessTime, &info.ftLastWriteTime)) {
        return Status{detail::errnoFor(::GetLastError())};
    }
    const auto wide = nativePath(out.temporaryPath());
    if (!wide) {
        return notUtf8();
    }
    if (!setRawAttributes(*wide, info.dwFileAttributes)) {
        return lastError(out.temporaryPath());
    }
    return Status::success();
}

}  // namespace

Status copyFile(const std::string& from, const std::string& to, Existing existing) {
    InputFile in;
    if (Status s = in.open(from); !s.ok()) {
        return s;
    }
    const auto wideFrom = nativePath(from);
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!wideFrom || !::GetFileAttributesExW(wideFrom->c_str(), GetFileExInfoStandard, &info)) {
        return wideFrom ? lastError(from) : notUtf8();
    }
    if (Status s = makeFolders(parentFolder(to)); !s.ok()) {
        return s;
    }
    AtomicFile out(to, 0600, existing);
    if (Status s = out.open(); !s.ok()) {
        return s;
    }
    if (Status s = copyContent(in, out); !s.ok()) {
        return s;
    }
    in.close();  // `from` may be `to`, and Windows refuses to replace an open file
    if (Status s = copyMetadata(info, out); !s.ok()) {
        return s;
    }
    return out.commit();
}

namespace {

Status moveExisting(const std::string& from, const std::string& to, Existing existing) {
    const auto wideFrom = nativePath(from);
    const auto wideTo = nativePath(to);
    if (!wideFrom || !wideTo) {
        return notUtf8();
    }
    const DWORD attributes = detail::attributesOf(*wideFrom);
    if (attributes == kNoAttributes) {
        return lastError(from);
    }
    const std::string toFolder = parentFolder(to);
    if (Status s = makeFolders(toFolder); !s.ok()) {
        return s;
    }
    if (const int fault = injectedFault(Operation::kRename, from, to)) {
        return Status{fault};
    }
    if (*wideFrom == *wideTo) {
        return Status::success();
    }
    if (moveAs(*wideFrom, *wideTo, existing)) {
        return Status::success();
    }
    if (::GetLastError() != ERROR_NOT_SAME_DEVICE) {
        return lastError(from);
    }
    if (isDirectory(attributes)) {
        return Status{EXDEV};
    }
    // Find out before copying whether the source may be removed afterwards, so that the
    // usual refusal leaves the destination alone.
    const HANDLE probe = ::CreateFileW(wideFrom->c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return lastError(from);
    }
    ::CloseHandle(probe);
    const bool replacing = pathExists(to);
    if (Status s = copyFile(from, to, existing); !s.ok()) {
        return s;
    }
    Status removed = Status{injectedFault(Operation::kRemove, from)};
    if (removed.ok() && !deleteAnyFile(*wideFrom)) {
        removed = lastError(from);
    }
    if (!removed.ok() && pathExists(from)) {
        // Not moved after all: a copy that replaced nothing goes again, so that no second
        // copy of the file is left where nobody looks for it.
        if (!replacing) {
            (void)removeFile(to);
        }
        return removed;
    }
    return Status::success();
}

}  // namespace

Status movePath(const std::string& from, const std::string& to) {
    return moveExisting(from, to, Existing::kReplace);
}

// MoveFileEx writes through, so there is nothing left to sync: `unsynced` stays as it is.
Status movePathKeeping(const std::string& from, const std::string& to,
                       std::vector<std::string>* /*unsynced*/) {
    return moveExisting(from, to, Existing::kKeep);
}

}  // namespace vantory::platform
