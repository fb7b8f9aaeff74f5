// The parts of the platform layer that are the same on every system.

#include "platform/platform.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vantory::platform {

namespace {

// Makes `path` with `mode` after each missing folder above it with `parentMode`.
Status makeFolderChain(const std::string& path, FileMode mode, FileMode parentMode) {
    if (path.empty() || isFolder(path)) {
        return Status::success();
    }
    const std::string parent = parentFolder(path);
    if (!parent.empty() && parent != path) {  // the parent of a root is the root itself
        if (Status s = makeFolderChain(parent, parentMode, parentMode); !s.ok()) {
            return s;
        }
    }
    const Status made = makeFolder(path, mode);
    if (made.error == EEXIST) {
        // Something else arrived first: fine when it is a folder.
        return isFolder(path) ? Status::success() : Status{ENOTDIR};
    }
    return made;
}

}  // namespace

std::string Status::message() const {
    return error == 0 ? std::string() : std::strerror(error);
}

Status Status::fromErrno() {
    return Status{errno == 0 ? EIO : errno};
}

bool fileExists(const std::string& path) {
    if (!isRegularFile(path)) {
        return false;
    }
    const auto attributes = getAttributes(path);
    return attributes && (*attributes & (kHidden | kSystem)) == 0;
}

Status makeFolders(const std::string& path, FileMode mode) {
    return makeFolderChain(path, mode, mode);
}

Status ensureFolder(const std::string& path, FileMode mode) {
    // ~/.config itself may be missing on a fresh account.
    return makeFolderChain(path, mode, 0755);
}

uint8_t* scratchBuffer(Scratch use, size_t size) {
    struct Buffer {
        std::unique_ptr<uint8_t[]> data;
        size_t size = 0;
    };
    thread_local std::array<Buffer, 2> buffers;
    Buffer& buffer = buffers.at(static_cast<size_t>(use));
    if (buffer.size < size) {
        buffer.data = std::make_unique_for_overwrite<uint8_t[]>(size);
        buffer.size = size;
    }
    return buffer.data.get();
}

Status copyContent(InputFile& in, AtomicFile& out) {
    constexpr size_t kPiece = size_t{1} << 20;
    uint8_t* const buffer = scratchBuffer(Scratch::kInput, kPiece);
    for (;;) {
        size_t got = 0;
        if (Status s = in.read(buffer, kPiece, got); !s.ok()) {
            return s;
        }
        if (got == 0) {
            return Status::success();
        }
        if (Status s = out.write(buffer, got); !s.ok()) {
            return s;
        }
    }
}

std::optional<std::string> readUnshownLine() {
    const bool terminal = echoTypedInput(false);
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) {
        (void)echoTypedInput(true);
    }
    std::fputc('\n', stderr);  // ends the prompt's line: what was typed is not shown
    if (!read) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

AtomicFile::AtomicFile(std::string target, FileMode mode, Existing existing)
    : target_(std::move(target)), mode_(mode), existing_(existing) {}

AtomicFile::~AtomicFile() {
    discard();
}

Status writeFileAtomically(const std::string& path, std::string_view content, FileMode mode) {
    AtomicFile file(path, mode);
    if (Status s = file.open(); !s.ok()) {
        return s;
    }
    if (Status s = file.write(content); !s.ok()) {
        return s;
    }
    return file.commit();
}

// Through InputFile, so that a link is refused and a named pipe or a device is never waited on.
std::optional<std::string> readWholeFile(const std::string& path, Status* status) {
    InputFile in;
    Status result = in.open(path);
    std::string content;
    if (result.ok()) {
        std::vector<char> buffer(65536);
        for (;;) {
            size_t got = 0;
            result = in.read(buffer.data(), buffer.size(), got);
            if (!result.ok() || got == 0) {
                break;
            }
            content.append(buffer.data(), got);
        }
    }
    if (status != nullptr) {
        *status = result;
    }
    if (!result.ok()) {
        return std::nullopt;
    }
    return content;
}

std::string withoutClosingSeparators(std::string path) {
    while (path.size() > 1 && isSeparator(path.back())) {
        path.pop_back();
    }
    return path;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    return isSeparator(folder.back()) ? folder + name : folder + kSeparator + name;
}

std::string atomicFilePrefix(const std::string& target) {
    return joinPath(parentFolder(target),
                    "." + baseName(target).substr(0, kTemporaryNameRoom) + ".vantory-");
}

std::optional<std::string> atomicFileTarget(std::string_view name) {
    constexpr std::string_view kInfix = ".vantory-";
    constexpr size_t kUnique = 6;  // the letters and digits that make the name unique
    if (name.size() < 1 + 1 + kInfix.size() + kUnique || name[0] != '.') {
        return std::nullopt;
    }
    const size_t infix = name.size() - kUnique - kInfix.size();
    if (name.substr(infix, kInfix.size()) != kInfix) {
        return std::nullopt;
    }
    for (const char c : name.substr(name.size() - kUnique)) {
        const bool alphanumeric =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alphanumeric) {
            return std::nullopt;
        }
    }
    return std::string(name.substr(1, infix - 1));
}

}  // namespace vantory::platform
