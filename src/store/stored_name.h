#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"
#include "store/program_state.h"

namespace vantory {

// The stored file of the catalogue entry at `position` (from 0) is named position + 100,
// a dot, and the storage extension, in the storage folder.
inline std::string StoredName(size_t position, const std::string& extension) {
    return std::to_string(position + 100) + "." + extension;
}

inline std::string StoredPath(const ProgramState& state, size_t position) {
    return state.strStorageDir + StoredName(position, state.strExtension);
}

// Where a hidden file is opened for a while: the storage folder, "tempFile." and the last
// three characters of the original path. A separator among them (a short file name) is
// written as '_', so the file stays in the storage folder itself.
inline std::string TempName(const ProgramState& state, const std::string& originalPath) {
    const size_t n = originalPath.size();
    std::string ending = originalPath.substr(n < 3 ? 0 : n - 3);
    for (char& c : ending) {
        if (platform::isSeparator(c)) {
            c = '_';
        }
    }
    return state.strStorageDir + "tempFile." + ending;
}

}  // namespace vantory
