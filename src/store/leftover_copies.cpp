#include "store/leftover_copies.h"

#include <algorithm>
#include <cerrno>

#include "store/parallel.h"
#include "store/sealed_record.h"
#include "store/stored_name.h"

namespace vantory {

namespace {

constexpr std::string_view kHeader = "vantory leftovers 1";

std::vector<std::string> readRecord(const ProgramState& state) {
    bool readable = true;
    // One that cannot be read is not acted on.
    return ReadSealedRecord(LeftoverCopiesPath(state), kHeader, state.strPassword, readable)
        .value_or(std::vector<std::string>());
}

void writeRecord(const ProgramState& state, const std::vector<std::string>& paths) {
    if (paths.empty()) {
        (void)RemoveSealedRecord(LeftoverCopiesPath(state));
    } else {
        (void)WriteSealedRecord(LeftoverCopiesPath(state), kHeader, paths, state.strPassword);
    }
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

void DeleteOwnCopies(const ProgramState& state, const std::vector<std::string>& paths,
                     Pacer* pacer) {
    std::vector<char> gone(paths.size());
    ForEachAtOnce(
        paths.size(), [&](size_t i) { gone[i] = deleted(paths[i]); }, pacer);
    std::vector<std::string> left;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (!gone[i]) {
            left.push_back(paths[i]);
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
