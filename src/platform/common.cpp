// The parts of the platform layer that are the same on every system.

#include "platform/platform.h"

namespace vantory::platform {

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
