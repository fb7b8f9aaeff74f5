#include "store/sealed_record.h"

#include <cerrno>

#include "cipher/cipher.h"
#include "store/settings_file.h"

namespace vantory {

platform::Status WriteSealedRecord(const std::string& path, std::string_view header,
                                   const std::vector<std::string>& lines, std::string_view key) {
    std::string text = Seal(header, key) + "\r\n";
    for (const std::string& line : lines) {
        text += Seal(line, key) + "\r\n";
    }
    return platform::writeFileAtomically(path, text);
}

std::optional<std::vector<std::string>> ReadSealedRecord(const std::string& path,
                                                         std::string_view header,
                                                         std::string_view key, bool& readable) {
    platform::Status status;
    const auto content = platform::readWholeFile(path, &status);
    readable = content.has_value() || status.error == ENOENT;
    if (!content) {
        return std::nullopt;
    }
    const std::vector<std::string> sealed = SplitLines(*content);
    if (sealed.empty() || Unseal(sealed[0], key) != header) {
        readable = false;
        return std::nullopt;
    }
    std::vector<std::string> lines;
    for (size_t i = 1; i < sealed.size(); ++i) {
        lines.push_back(Unseal(sealed[i], key));
    }
    return lines;
}

platform::Status RemoveSealedRecord(const std::string& path) {
    const platform::Status removed = platform::removeFile(path);
    if (removed.ok()) {
        platform::syncFolder(platform::parentFolder(path));
    }
    return removed.error == ENOENT ? platform::Status::success() : removed;
}

}  // namespace vantory
