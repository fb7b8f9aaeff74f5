#pragma once

// What the benchmark programs share: their knobs and the folder they work in.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <stdlib.h>

namespace vantory::bench {

// The number in the environment variable `name`, or `fallback` when it is unset or empty.
inline uint64_t numberFromEnvironment(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && text[0] != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// A new folder "<prefix>-XXXXXX" under TMPDIR (default /tmp); none, with the reason printed,
// when it cannot be made.
inline std::optional<std::string> makeWorkFolder(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string pattern =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        std::perror("mkdtemp");
        return std::nullopt;
    }
    return std::string(name.data());
}

}  // namespace vantory::bench
