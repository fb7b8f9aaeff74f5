#pragma once

// The program's paths are UTF-8 byte strings; std::filesystem takes a std::string in the
// system's narrow encoding, which on Windows is the ANSI code page. These two turn one into
// the other without loss on every system.

#include <filesystem>
#include <string>

namespace vantory::platform {

inline std::filesystem::path fsPath(const std::string& path) {
#if defined(_WIN32)
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
#else
    return std::filesystem::path(path);
#endif
}

inline std::string pathString(const std::filesystem::path& path) {
#if defined(_WIN32)
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
#else
    return path.string();
#endif
}

}  // namespace vantory::platform
