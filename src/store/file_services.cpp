#include "store/file_services.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/fs_path.h"

namespace vantory {

namespace {

// Pause between two attempts to delete a file that refuses.
constexpr std::chrono::milliseconds kRemovePause{20};

// Errors of a delete that no later attempt can cure.
bool lastingError(int error) {
    switch (error) {
        case EISDIR:
        case EROFS:
        case ENAMETOOLONG:
        case ELOOP:
        case EINVAL:
        case EFAULT:
            return true;
        default:
            return false;
    }
}

// Nothing is at the path, or nothing can be (a folder on the way is a file).
bool nothingThere(const Status& probe) {
    return probe.error == ENOENT || probe.error == ENOTDIR;
}

}  // namespace

std::string NotAFile(const std::string& path) {
    switch (platform::pathKind(path)) {
        case platform::PathKind::kNothing:
        case platform::PathKind::kRegularFile:
            return {};
        case platform::PathKind::kLink:
            return "a symbolic link";
        case platform::PathKind::kFolder:
            return "a folder";
        case platform::PathKind::kOther:
            break;
    }
    return "something other than a file";
}

std::string StoredFileProblem(const std::string& stored) {
    switch (platform::pathKind(stored)) {
        case platform::PathKind::kRegularFile:
            return {};
        case platform::PathKind::kNothing:
            return "its stored copy " + stored + " is missing";
        default:
            break;
    }
    return "its stored copy " + stored + " is " + NotAFile(stored) +
           ", not a file Vantory stored; it was left as it is";
}

Status RemoveFile(const std::string& path, Pacer* pacer, std::chrono::milliseconds limit) {
    Status probe = platform::probePath(path);
    if (nothingThere(probe)) {
        return Status::success();
    }
    if (!probe.ok()) {
        return probe;
    }
    const std::optional<int> attributes = platform::getAttributes(path);
    if (attributes && *attributes != 0) {
        // A failure here is no reason not to try the delete.
        (void)platform::setAttributes(path, 0);
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        Status removed = platform::removeFile(path);
        if (removed.ok() || removed.error == ENOENT) {
            return Status::success();
        }
        if (lastingError(removed.error) || std::chrono::steady_clock::now() >= deadline) {
            if (attributes && *attributes != 0) {
                (void)platform::setAttributes(path, *attributes);
            }
            return removed;
        }
        tick(pacer);
        std::this_thread::sleep_for(kRemovePause);
        probe = platform::probePath(path);
        if (nothingThere(probe)) {
            return Status::success();
        }
        if (!probe.ok()) {
            return probe;
        }
    }
}

Status RenameFile(const std::string& source, const std::string& destination) {
    // rename(2) replaces the destination in the same step, so there is no need to delete it
    // first, and a rename that fails leaves it in place.
    if (Status probe = platform::probePath(source); !probe.ok()) {
        return probe;
    }
    const std::optional<int> attributes = platform::getAttributes(source);
    if (attributes && *attributes != 0) {
        if (Status s = platform::setAttributes(source, 0); !s.ok()) {
            return s;
        }
    }
    Status renamed = platform::renamePath(source, destination);
    if (!renamed.ok()) {
        if (attributes && *attributes != 0) {
            (void)platform::setAttributes(source, *attributes);
        }
        return renamed;
    }
    platform::syncFolder(platform::parentFolder(destination));
    return Status::success();
}

Status ShellFileOp(const std::string& source, const std::string& destination) {
    return platform::movePath(source, destination);
}

std::vector<std::string> MissingFolders(const std::string& folder) {
    std::string path = platform::withoutClosingSeparators(folder);
    std::vector<std::string> missing;
    while (!path.empty() && !platform::pathExists(path)) {
        std::string parent = platform::parentFolder(path);
        if (parent.size() >= path.size()) {
            break;
        }
        missing.push_back(std::move(path));
        path = std::move(parent);
    }
    return missing;
}

void RemoveEmptyFolders(std::vector<std::string> folders) {
    // A folder's path is longer than the paths of the folders above it.
    std::ranges::sort(
        folders, [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& folder : folders) {
        std::error_code ignored;
        if (platform::isFolder(folder) &&
            std::filesystem::is_empty(platform::fsPath(folder), ignored)) {
            std::filesystem::remove(platform::fsPath(folder), ignored);
        }
    }
}

}  // namespace vantory
