#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fault_injection.h"
#include "platform/progress_file.h"

namespace vantory::platform {

ProgressFile::~ProgressFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Status ProgressFile::open() {
    if (const int fault = injectedFault(Operation::kCreate, path_)) {
        return Status{fault};
    }
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        return Status::fromErrno();
    }
    count_ = 0;
    if (::fsync(fd_) != 0) {
        return Status::fromErrno();
    }
    syncFolder(parentFolder(path_));
    return Status::success();
}

Status ProgressFile::openExisting() {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        return Status::fromErrno();
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        return Status::fromErrno();
    }
    count_ = static_cast<size_t>(st.st_size);
    return Status::success();
}

Status ProgressFile::setCount(size_t count) {
    if (fd_ < 0) {
        return Status{EBADF};
    }
    if (const int fault = injectedFault(Operation::kProgress, path_)) {
        return Status{fault};
    }
    if (::ftruncate(fd_, static_cast<off_t>(count)) != 0 || ::fdatasync(fd_) != 0) {
        return Status::fromErrno();
    }
    count_ = count;
    return Status::success();
}

Status ProgressFile::remove() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (const int fault = injectedFault(Operation::kRemove, path_)) {
        return Status{fault};
    }
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT) {
        return Status::fromErrno();
    }
    return Status::success();
}

}  // namespace vantory::platform
