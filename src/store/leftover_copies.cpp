#include "store/leftover_copies.h"

#include <algorithm>
#include <cerrno>

#include "cipher/cipher.h"
#include "store/settings_file.h"
#include "store/stored_name.h"

namespace vantory {

namespace {

constexpr std::string_view kHeader = "vantory leftovers 1";

std::vector<std::string> readRecord(const ProgramState& state) {
    const auto content = platform::readWholeFile(LeftoverCopiesPath(state));
    std::vector<std::string> paths;
    if (!content) {
        return paths;
    }
    const std::vector<std::string> lines = SplitLines(*content);
    if (lines.empty() || Unseal(lines[0], state.strPassword) != kHeader) {
        return paths;  // not ours to act on
    }
    for (size_t i = 1; i < lines.size(); ++i) {
        paths.push_back(Unseal(lines[i], state.strPassword));
    }
    return paths;
}

void writeRecord(const ProgramState& state, const std::vector<std::string>& paths) {
    if (paths.empty()) {
        if (platform::removeFile(LeftoverCopiesPath(state)).ok()) {
            platform::syncFolder(state.strSystemDir);
        }
        return;
    }
    std::string text = Seal(kHeader, state.strPassword) + "\r\n";
    for (const std::string& path : paths) {
        text += Seal(path, state.strPassword) + "\r\n";
    }
    (void)platform::writeFileAtomically(LeftoverCopiesPath(state), text);
}

// Deletes the file; true once it is known to be gone.
bool deleted(const std::string& path) {
    const platform::Status removed = platform::removeFile(path);
    return removed.ok() ||
           (removed.error == ENOENT && platform::isFolder(platform::parentFolder(path)));
}

}  // namespace

std::string LeftoverCopiesPath(const ProgramState& state) {
    return state.strSystemDir + platform::kSeparator + "regInfo.leftovers";
}

void DeleteOwnCopies(const ProgramState& state, const std::vector<std::string>& paths) {
    std::vector<std::string> left;
    for (const std::string& path : paths) {
        if (!deleted(path)) {
            left.push_back(path);
        }
    }
    if (!paths.empty()) {
        platform::syncFolder(platform::parentFolder(paths.front()));
    }
    if (!left.empty()) {
        std::vector<std::string> all = readRecord(state);
        all.insert(all.end(), left.begin(), left.end());
        writeRecord(state, all);
    }
}

void DeleteLeftoverCopies(const ProgramState& state, const Catalogue& catalogue) {
    if (!platform::pathExists(LeftoverCopiesPath(state))) {
        return;
    }
    const std::vector<std::string> paths = readRecord(state);
    std::vector<std::string> left;
    for (const std::string& path : paths) {
        bool listed = false;
        for (size_t p = 0; p < catalogue.size() && !listed; ++p) {
            listed = StoredPath(state, p) == path;
        }
        if (!listed && !deleted(path)) {
            left.push_back(path);
        }
    }
    writeRecord(state, left);
}

}  // namespace vantory
