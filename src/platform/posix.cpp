#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/platform.h"

namespace vantory::platform {

namespace {

constexpr const char* kAttributeName = "user.vantory.attributes";
// The unit in which the page cache is dropped: a part of a page is never dropped.
const uint64_t kPageSize = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));

bool xattrUnsupported(int error) {
    return error == ENOTSUP || error == EPERM;
}

// Puts in the place of `fd` a descriptor of `path` opened with `flags` (O_WRONLY or O_RDONLY),
// on which the system refuses the other direction (kSystemRefuses).
void swapForRefusing(int fd, const char* path, int flags) {
    const int refusing = ::open(path, flags | O_CLOEXEC);
    if (refusing >= 0) {
        (void)::dup3(refusing, fd, O_CLOEXEC);
        ::close(refusing);
    }
}

}  // namespace

std::string settingsFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.config";
    }
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    return base + "/vantory";
}

Status makeFolder(const std::string& path, FileMode mode) {
    if (const int fault = injectedFault(Operation::kMakeFolder, path)) {
        return Status{fault};
    }
    if (::mkdir(path.c_str(), mode) != 0) {
        return Status::fromErrno();
    }
    return Status::success();
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

PathKind pathKind(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return PathKind::kNothing;
    }
    return S_ISREG(st.st_mode)   ? PathKind::kRegularFile
           : S_ISLNK(st.st_mode) ? PathKind::kLink
           : S_ISDIR(st.st_mode) ? PathKind::kFolder
                                 : PathKind::kOther;
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::optional<uint64_t> fileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(st.st_size);
}

namespace {

// A file itself, never the target of a link: opened O_PATH, which needs no permission on the
// file, and reached through /proc/self/fd, which names the opened file whatever its path names
// by then. Without /proc the path itself is used, once it was seen to be no link.
class OwnFile {
  public:
    OwnFile() = default;
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;
    ~OwnFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    // ELOOP for a symbolic link.
    Status open(const std::string& path) {
        fd_ = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd_ < 0 || ::fstat(fd_, &st_) != 0) {
            return Status::fromErrno();
        }
        if (S_ISLNK(st_.st_mode)) {
            return Status{ELOOP};
        }
        name_ = "/proc/self/fd/" + std::to_string(fd_);
        struct stat seen {};
        if (::stat(name_.c_str(), &seen) != 0 || seen.st_ino != st_.st_ino ||
            seen.st_dev != st_.st_dev) {
            name_ = path;
        }
        return Status::success();
    }
    const char* name() const { return name_.c_str(); }
    mode_t mode() const { return st_.st_mode & 07777; }

  private:
    int fd_ = -1;
    struct stat st_ {};
    std::string name_;
};

// The extended attribute holds the attributes in decimal and, once the file is stored, the
// permission bits it had before in octal: "7 644". Earlier versions wrote the attributes
// alone, which also reads the value written now.
struct Recorded {
    int attributes = 0;
    std::optional<mode_t> mode;
    std::string text;  // as found; empty when there is none
};

Recorded readRecorded(const char* name) {
    Recorded recorded;
    char text[24] = {};
    const ssize_t n = ::getxattr(name, kAttributeName, text, sizeof text - 1);
    if (n <= 0) {
        return recorded;
    }
    recorded.text.assign(text, static_cast<size_t>(n));
    recorded.attributes = std::atoi(text) & kStoredAttributes;
    if (const char* space = std::strchr(text, ' ')) {
        char* end = nullptr;
        const unsigned long mode = std::strtoul(space + 1, &end, 8);
        if (end != space + 1 && mode <= 07777) {
            recorded.mode = static_cast<mode_t>(mode);
        }
    }
    return recorded;
}

}  // namespace

std::optional<int> getAttributes(const std::string& path) {
    OwnFile file;
    if (!file.open(path).ok()) {
        return std::nullopt;
    }
    int attributes = readRecorded(file.name()).attributes;
    if ((file.mode() & S_IWUSR) == 0) {
        attributes |= kReadOnly;
    } else {
        attributes &= ~kReadOnly;
    }
    return attributes;
}

// A file given attributes (a stored file) is private: only its owner may read it, and only
// without read-only may the owner write it. The permission bits it had before are recorded
// beside the attributes and given back when they are cleared. Where the file system keeps no
// extended attributes nothing can be recorded: clearing then gives the owner's bits and
// write permission (0600 for most files), never more than the file had.
Status setAttributes(const std::string& path, int attributes) {
    if (const int fault = injectedFault(Operation::kAttributes, path)) {
        return Status{fault};
    }
    OwnFile file;
    if (Status s = file.open(path); !s.ok()) {
        return s;
    }
    attributes &= kStoredAttributes;
    const mode_t now = file.mode();
    const Recorded recorded = readRecorded(file.name());
    mode_t original = now;
    if (recorded.mode) {
        original = *recorded.mode;
    } else if (recorded.attributes != 0 || attributes == 0) {
        // Nothing recorded (by an earlier version, which took every write bit away, or where
        // the file system keeps no extended attributes): the owner's write bit comes back.
        original = now | S_IWUSR;
    }
    mode_t wanted = original;
    std::string text;
    if (attributes != 0) {
        wanted = (original & S_IRWXU & ~S_IWUSR) | ((attributes & kReadOnly) != 0 ? 0 : S_IWUSR);
        char octal[8];
        std::snprintf(octal, sizeof octal, "%o", static_cast<unsigned>(original));
        text = std::to_string(attributes) + " " + octal;
    }
    // Changing the extended attribute needs write permission: it is given first and taken
    // last.
    if (text != recorded.text) {
        if ((now & S_IWUSR) == 0 && ::chmod(file.name(), now | S_IWUSR) != 0) {
            return Status::fromErrno();
        }
        int rc = 0;
        if (text.empty()) {
            rc = ::removexattr(file.name(), kAttributeName);
            if (rc != 0 && errno == ENODATA) {
                rc = 0;
            }
        } else {
            rc = ::setxattr(file.name(), kAttributeName, text.data(), text.size(), 0);
        }
        if (rc != 0 && !xattrUnsupported(errno)) {
            const Status failed = Status::fromErrno();
            (void)::chmod(file.name(), now);
            return failed;
        }
    }
    if (wanted != now || text != recorded.text) {
        if (::chmod(file.name(), wanted) != 0) {
            // The record goes back as it was, so that the mode to give back is not lost.
            const Status failed = Status::fromErrno();
            if (text != recorded.text) {
                if (recorded.text.empty()) {
                    (void)::removexattr(file.name(), kAttributeName);
                } else {
                    (void)::setxattr(file.name(), kAttributeName, recorded.text.data(),
                                     recorded.text.size(), 0);
                }
            }
            (void)::chmod(file.name(), now);
            return failed;
        }
    }
    return Status::success();
}

std::optional<FileMode> permissionBits(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) {
        return std::nullopt;
    }
    return st.st_mode & 07777;
}

std::optional<FileMode> recordedPermissionBits(const std::string& path) {
    OwnFile file;
    if (!file.open(path).ok()) {
        return std::nullopt;
    }
    return readRecorded(file.name()).mode;
}

Status makePrivateFolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return Status::fromErrno();
    }
    struct stat st {};
    Status result;
    if (::fstat(fd, &st) != 0) {
        result = Status::fromErrno();
    } else if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        result = Status{injectedFault(Operation::kAttributes, path)};
        if (result.ok() && ::fchmod(fd, st.st_mode & S_IRWXU) != 0) {
            result = Status::fromErrno();
        }
    }
    ::close(fd);
    return result;
}

Status removeFile(const std::string& path) {
    if (const int fault = injectedFault(Operation::kRemove, path)) {
        return Status{fault};
    }
    if (::unlink(path.c_str()) != 0) {
        return Status::fromErrno();
    }
    return Status::success();
}

namespace {

// rename(2) that fails with EEXIST instead of replacing: renameat2 where the file system
// offers it, else a hard link (which never replaces) and the removal of the old name. Where
// neither is possible (FAT), the destination is looked at first, which leaves a moment's race.
int renameKeeping(const char* from, const char* to) {
#if defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return -1;
    }
#endif
    if (::link(from, to) == 0) {
        ::unlink(from);
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) {
        return -1;
    }
    struct stat st {};
    if (::lstat(to, &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from, to);
}

int renameAs(const std::string& from, const std::string& to, Existing existing) {
    return existing == Existing::kKeep ? renameKeeping(from.c_str(), to.c_str())
                                       : ::rename(from.c_str(), to.c_str());
}

Status renameExisting(const std::string& from, const std::string& to, Existing existing) {
    if (const int fault = injectedFault(Operation::kRename, from, to)) {
        return Status{fault};
    }
    if (renameAs(from, to, existing) != 0) {
        return Status::fromErrno();
    }
    return Status::success();
}

}  // namespace

Status renamePath(const std::string& from, const std::string& to) {
    return renameExisting(from, to, Existing::kReplace);
}

void syncFolder(const std::string& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string parentFolder(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return std::string();
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isAbsolutePath(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

namespace {

// Why the folder at `path` is not this user's alone, or "" when it is.
std::string whyNotPrivate(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        const Status missing = Status::fromErrno();
        return path + ": " + missing.message();
    }
    if (!S_ISDIR(st.st_mode)) {
        return path + " is not a folder";
    }
    if (st.st_uid != ::geteuid()) {
        return path + " belongs to another user";
    }
    if ((st.st_mode & 077) != 0) {
        return path + " is open to other users";
    }
    return {};
}

}  // namespace

std::optional<std::string> privateRuntimeFolder(std::string* why) {
    std::string reasons;
    const char* given = std::getenv("XDG_RUNTIME_DIR");
    std::string runtime = given != nullptr ? given : "";
    while (runtime.size() > 1 && runtime.back() == '/') {
        runtime.pop_back();  // lstat would follow a link named with a closing '/'
    }
    if (isAbsolutePath(runtime)) {
        const std::string problem = whyNotPrivate(runtime);
        if (problem.empty()) {
            return runtime;
        }
        reasons = problem + "; ";
    }
    const char* temporary = std::getenv("TMPDIR");
    const std::string base = temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp";
    const std::string own = (base.size() > 1 && base.back() == '/' ? base : base + "/") +
                            "vantory-" + std::to_string(::geteuid());
    // Made 0700 when missing; whatever is there already must pass the check.
    if (::mkdir(own.c_str(), 0700) != 0 && errno != EEXIST) {
        const Status made = Status::fromErrno();
        reasons += own + " cannot be made: " + made.message();
    } else if (const std::string problem = whyNotPrivate(own); !problem.empty()) {
        reasons += problem;
    } else {
        return own;
    }
    if (why != nullptr) {
        *why = reasons;
    }
    return std::nullopt;
}

std::optional<std::string> createUniqueFile(const std::string& prefix, Status* status) {
    std::vector<char> name(prefix.begin(), prefix.end());
    for (char c : std::string_view("XXXXXX")) {
        name.push_back(c);
    }
    name.push_back('\0');
    if (const int fault = injectedFault(Operation::kCreate, prefix)) {
        if (status != nullptr) {
            *status = Status{fault};
        }
        return std::nullopt;
    }
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        if (status != nullptr) {
            *status = Status::fromErrno();
        }
        return std::nullopt;
    }
    ::close(fd);
    if (status != nullptr) {
        *status = Status::success();
    }
    return std::string(name.data());
}

namespace {

// Flushes a finished file to disk. The fault point and the flush belong together: tests that
// find the kFlush before the rename of a temporary file count on the flush being there too.
Status flushToDisk(int fd, const std::string& path) {
    if (const int fault = injectedFault(Operation::kFlush, path)) {
        return Status{fault};
    }
    return ::fsync(fd) == 0 ? Status::success() : Status::fromErrno();
}
}  // namespace

Status AtomicFile::open() {
    std::string pattern = atomicFilePrefix(target_) + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (const int fault = injectedFault(Operation::kCreate, target_)) {
        return Status{fault};
    }
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        return Status::fromErrno();
    }
    temporaryPath_ = name.data();
    if (mode_ != 0600) {
        ::fchmod(fd_, mode_);
    }
    return Status::success();
}

Status AtomicFile::write(const void* data, size_t size) {
    if (!failure_.ok()) {
        return failure_;
    }
    if (fd_ < 0) {
        return failure_ = Status{EBADF};
    }
    if (const int fault = injectedFault(Operation::kWrite, temporaryPath_)) {
        if (fault != kSystemRefuses) {
            return failure_ = Status{fault};
        }
        // The file itself, so that the flush and the rename that follow would go ahead.
        swapForRefusing(fd_, temporaryPath_.c_str(), O_RDONLY);
    }
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure_ = Status::fromErrno();
        }
        p += n;
        size -= static_cast<size_t>(n);
        written_ += static_cast<uint64_t>(n);
    }
    return Status::success();
}

Status AtomicFile::flush() {
    if (!failure_.ok()) {
        return failure_;
    }
    if (fd_ < 0) {
        return Status{EBADF};
    }
    if (const int fault = injectedFault(Operation::kFlush, temporaryPath_)) {
        return failure_ = Status{fault};
    }
    if (::fdatasync(fd_) != 0) {
        return failure_ = Status::fromErrno();
    }
    flushed_ = true;
    return Status::success();
}

Status AtomicFile::commit(bool syncTheFolder) {
    if (!failure_.ok()) {
        return failure_;
    }
    if (fd_ < 0) {
        return Status{EBADF};
    }
    if (Status s = flushed_ ? Status::success() : flushToDisk(fd_, temporaryPath_); !s.ok()) {
        return failure_ = s;
    }
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) {
        return failure_ = Status::fromErrno();
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

namespace {
// How far behind the end of a file written behind its page cache is dropped: the last
// stretch is most likely still on its way to the disk.
constexpr uint64_t kWriteBehindLag = uint64_t{8} << 20;
}  // namespace

void AtomicFile::writeBehind() {
    if (fd_ < 0 || !failure_.ok()) {
        return;
    }
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
    if (written_ > 2 * kWriteBehindLag) {
        // The system skips pages that are not on disk yet, so each stretch is offered twice.
        const uint64_t upTo = (written_ - kWriteBehindLag) / kPageSize * kPageSize;
        ::posix_fadvise(fd_, static_cast<off_t>(dropFrom_), static_cast<off_t>(upTo - dropFrom_),
                        POSIX_FADV_DONTNEED);
        dropFrom_ = (written_ - 2 * kWriteBehindLag) / kPageSize * kPageSize;
    }
}

void AtomicFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporaryPath_.empty() && injectedFault(Operation::kRemove, temporaryPath_) == 0) {
        ::unlink(temporaryPath_.c_str());
        temporaryPath_.clear();
    }
}

bool echoTypedInput(bool on) {
    termios mode{};
    if (::isatty(STDIN_FILENO) == 0 || ::tcgetattr(STDIN_FILENO, &mode) != 0) {
        return false;
    }
    mode.c_lflag = on ? (mode.c_lflag | ECHO) : (mode.c_lflag & ~static_cast<tcflag_t>(ECHO));
    return ::tcsetattr(STDIN_FILENO, TCSANOW, &mode) == 0;
}

namespace {

// Opens `path` (made when missing, never through a link) and locks it for this open alone.
LockResult lockFile(const std::string& path, int& fd) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) {
        return LockResult::kFailed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        fd = -1;
        return held ? LockResult::kHeldElsewhere : LockResult::kFailed;
    }
    return LockResult::kAcquired;
}

// Whether the open file `fd` is the regular file under `path` now.
bool stillUnder(int fd, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           S_ISREG(named.st_mode) && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

LockResult lockInstance(const std::string& folder) {
    // Deliberately never closed: the lock lasts as long as the process.
    int fd = -1;
    return lockFile(folder + "/vantory.lock", fd);
}

LockResult FolderLock::acquire(const std::string& folder, const std::string& name) {
    release();
    const std::string path = joinPath(folder, name);
    // The copy that held the lock deletes the file as it lets go: a lock taken on a file no
    // longer under the name keeps no one out, so the name is opened afresh.
    for (int attempt = 0; attempt < 16; ++attempt) {
        int fd = -1;
        if (const LockResult result = lockFile(path, fd); result != LockResult::kAcquired) {
            return result;
        }
        if (stillUnder(fd, path)) {
            folder_ = folder;
            path_ = path;
            file_ = fd;
            return LockResult::kAcquired;
        }
        ::close(fd);
    }
    return LockResult::kFailed;
}

void FolderLock::release() {
    if (file_ == kNoFile) {
        return;
    }
    // Deleted while still locked, so that no one locks it under this name in between.
    if (stillUnder(file_, path_)) {
        ::unlink(path_.c_str());
    }
    ::close(file_);
    file_ = kNoFile;
}

Status probePath(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return Status::fromErrno();
    }
    return Status::success();
}

bool isSymbolicLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::lstat(a.c_str(), &first) == 0 && ::lstat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

Status InputFile::open(const std::string& path) {
    close();
    path_ = path;
    if (const int fault = injectedFault(Operation::kRead, path)) {
        return Status{fault};
    }
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (fd_ < 0) {
        return Status::fromErrno();
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        const Status s =
            st.st_mode == 0 ? Status::fromErrno() : Status{S_ISDIR(st.st_mode) ? EISDIR : EINVAL};
        close();
        return s;
    }
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return Status::success();
}

Status InputFile::read(void* buffer, size_t size, size_t& got) {
    got = 0;
    if (fd_ < 0) {
        return Status{EBADF};
    }
    if (const int fault = injectedFault(Operation::kReadPiece, path_)) {
        if (fault != kSystemRefuses) {
            return Status{fault};
        }
        swapForRefusing(fd_, "/dev/null", O_WRONLY);
    }
    char* p = static_cast<char*>(buffer);
    while (got < size) {
        const ssize_t n = ::read(fd_, p + got, size - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Status::fromErrno();
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
        read_ += static_cast<uint64_t>(n);
    }
    return Status::success();
}

void InputFile::dropRead() {
    const uint64_t upTo = read_ / kPageSize * kPageSize;
    if (fd_ >= 0 && upTo > dropped_) {
        ::posix_fadvise(fd_, static_cast<off_t>(dropped_), static_cast<off_t>(upTo - dropped_),
                        POSIX_FADV_DONTNEED);
        dropped_ = upTo;
    }
}

void InputFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    read_ = 0;
    dropped_ = 0;
}

namespace {

// Gives `to` the attributes, times and permission bits that `from` has (described by `st`).
// The permission bits come last, as they may take away the write permission.
Status copyMetadata(const std::string& from, const struct stat& st, const std::string& to) {
    if (const int fault = injectedFault(Operation::kAttributes, to)) {
        return Status{fault};
    }
    char value[16];
    const ssize_t n = ::getxattr(from.c_str(), kAttributeName, value, sizeof value);
    if (n > 0 && ::setxattr(to.c_str(), kAttributeName, value, static_cast<size_t>(n), 0) != 0 &&
        !xattrUnsupported(errno)) {
        return Status::fromErrno();
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::utimensat(AT_FDCWD, to.c_str(), times, 0) != 0) {
        return Status::fromErrno();
    }
    if (::chmod(to.c_str(), st.st_mode & 07777) != 0) {
        return Status::fromErrno();
    }
    return Status::success();
}

}  // namespace

void adviseHugePages(void* start, size_t size) {
#if defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    const auto from = reinterpret_cast<uintptr_t>(start);
    const uintptr_t first = (from + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t last = (from + size) & ~(kHugePage - 1);
    if (last > first) {
        (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#else
    (void)start;
    (void)size;
#endif
}

Status copyFile(const std::string& from, const std::string& to, Existing existing) {
    InputFile in;
    if (Status s = in.open(from); !s.ok()) {
        return s;
    }
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) {
        return Status::fromErrno();
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
    if (Status s = copyMetadata(from, st, out.temporaryPath()); !s.ok()) {
        return s;
    }
    return out.commit();
}

namespace {

Status moveExisting(const std::string& from, const std::string& to, Existing existing,
                    std::vector<std::string>* unsynced = nullptr) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) {
        return Status::fromErrno();
    }
    const std::string fromFolder = parentFolder(from);
    const std::string toFolder = parentFolder(to);
    if (Status s = makeFolders(toFolder); !s.ok()) {
        return s;
    }
    if (const int fault = injectedFault(Operation::kRename, from, to)) {
        return Status{fault};
    }
    if (renameAs(from, to, existing) == 0) {
        std::vector<std::string> changed{toFolder};
        if (fromFolder != toFolder) {
            changed.push_back(fromFolder);
        }
        for (const std::string& folder : changed) {
            if (unsynced == nullptr) {
                syncFolder(folder);
            } else if (std::find(unsynced->begin(), unsynced->end(), folder) == unsynced->end()) {
                unsynced->push_back(folder);
            }
        }
        return Status::success();
    }
    if (errno != EXDEV) {
        return Status::fromErrno();
    }
    if (!S_ISREG(st.st_mode)) {
        return Status{EXDEV};
    }
    // Find out before copying whether the source may be removed afterwards, so that the
    // usual refusal leaves the destination alone.
    if (::faccessat(AT_FDCWD, fromFolder.empty() ? "." : fromFolder.c_str(), W_OK | X_OK,
                    AT_EACCESS) != 0) {
        return Status::fromErrno();
    }
    const bool replacing = pathExists(to);
    if (Status s = copyFile(from, to, existing); !s.ok()) {
        return s;
    }
    Status removed = Status{injectedFault(Operation::kRemove, from)};
    if (removed.ok() && ::unlink(from.c_str()) != 0) {
        removed = Status::fromErrno();
    }
    if (!removed.ok() && pathExists(from)) {
        // Not moved after all: a copy that replaced nothing goes again, so that no second
        // copy of the file is left where nobody looks for it.
        if (!replacing && removeFile(to).ok()) {
            syncFolder(toFolder);
        }
        return removed;
    }
    if (unsynced == nullptr) {
        syncFolder(fromFolder);
    } else if (std::find(unsynced->begin(), unsynced->end(), fromFolder) == unsynced->end()) {
        unsynced->push_back(fromFolder);
    }
    return Status::success();
}

}  // namespace

Status movePath(const std::string& from, const std::string& to) {
    return moveExisting(from, to, Existing::kReplace);
}

Status movePathKeeping(const std::string& from, const std::string& to,
                       std::vector<std::string>* unsynced) {
    return moveExisting(from, to, Existing::kKeep, unsynced);
}

}  // namespace vantory::platform
