#include <cerrno>

#include "platform/fault_injection.h"
#include "platform/progress_file.h"
#include "platform/win32_detail.h"

namespace vantory::platform {

namespace {

Status lastError() {
    return Status{detail::errnoFor(::GetLastError())};
}

}  // namespace

ProgressFile::~ProgressFile() {
    if (fd_ != kNoFile) {
        ::CloseHandle(fd_);
    }
}

Status ProgressFile::open() {
    if (const int fault = injectedFault(Operation::kCreate, path_)) {
        return Status{fault};
    }
    const auto wide = detail::nativePath(path_);
    if (!wide) {
        return Status{EILSEQ};
    }
    const HANDLE h = ::CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return lastError();
    }
    fd_ = h;
    count_ = 0;
    if (!::FlushFileBuffers(fd_)) {
        return lastError();
    }
    syncFolder(parentFolder(path_));
    return Status::success();
}

Status ProgressFile::openExisting() {
    const auto wide = detail::nativePath(path_);
    if (!wide) {
        return Status{EILSEQ};
    }
    const HANDLE h = ::CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return lastError();
    }
    fd_ = h;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(fd_, &size)) {
        return lastError();
    }
    count_ = static_cast<size_t>(size.QuadPart);
    return Status::success();
}

Status ProgressFile::setCount(size_t count) {
    if (fd_ == kNoFile) {
        return Status{EBADF};
    }
    if (const int fault = injectedFault(Operation::kProgress, path_)) {
        return Status{fault};
    }
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(count);
    if (!::SetFilePointerEx(fd_, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(fd_) ||
        !::FlushFileBuffers(fd_)) {
        return lastError();
    }
    count_ = count;
    return Status::success();
}

Status ProgressFile::remove() {
    if (fd_ != kNoFile) {
        ::CloseHandle(fd_);
        fd_ = kNoFile;
    }
    if (const int fault = injectedFault(Operation::kRemove, path_)) {
        return Status{fault};
    }
    const auto wide = detail::nativePath(path_);
    if (!wide) {
        return Status{EILSEQ};
    }
    if (!::DeleteFileW(wide->c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND &&
        ::GetLastError() != ERROR_PATH_NOT_FOUND) {
        return lastError();
    }
    return Status::success();
}

}  // namespace vantory::platform
