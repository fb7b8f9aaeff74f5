#include "store/open_copies.h"

#include <cerrno>

#include "cipher/cipher.h"
#include "store/settings_file.h"

namespace vantory {

namespace {
constexpr std::string_view kHeader = "vantory open 1";
constexpr size_t kLinesPerCopy = 4;
}  // namespace

std::string OpenCopiesPath(const ProgramState& state) {
    return state.strSystemDir + platform::kSeparator + "regInfo.open";
}

platform::Status WriteOpenCopies(const ProgramState& state, const std::vector<OpenCopy>& copies) {
    if (copies.empty()) {
        const platform::Status removed = platform::removeFile(OpenCopiesPath(state));
        if (removed.ok()) {
            platform::syncFolder(state.strSystemDir);
        }
        return removed.error == ENOENT ? platform::Status::success() : removed;
    }
    std::string text;
    const auto add = [&](std::string_view line) {
        text += Seal(line, state.strPassword);
        text += "\r\n";
    };
    add(kHeader);
    for (const OpenCopy& copy : copies) {
        add(copy.temporaryPath);
        add(copy.storedPath);
        add(copy.entryPath);
        add(copy.sealed ? "1" : "0");
    }
    return platform::writeFileAtomically(OpenCopiesPath(state), text);
}

std::vector<OpenCopy> ReadOpenCopies(const ProgramState& state, bool& readable) {
    platform::Status status;
    const auto content = platform::readWholeFile(OpenCopiesPath(state), &status);
    readable = content.has_value() || status.error == ENOENT;
    if (!content) {
        return {};
    }
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(*content)) {
        lines.push_back(Unseal(line, state.strPassword));
    }
    if (lines.empty() || lines[0] != kHeader || (lines.size() - 1) % kLinesPerCopy != 0) {
        readable = false;
        return {};
    }
    std::vector<OpenCopy> copies;
    for (size_t i = 1; i < lines.size(); i += kLinesPerCopy) {
        if (lines[i + 3] != "0" && lines[i + 3] != "1") {
            readable = false;
            return {};
        }
        copies.push_back({lines[i], lines[i + 1], lines[i + 2], lines[i + 3] == "1"});
    }
    return copies;
}

}  // namespace vantory
