#include "store/hide_record.h"

#include <cerrno>
#include <charconv>

#include "cipher/cipher.h"
#include "store/settings_file.h"

namespace vantory {

namespace {
constexpr std::string_view kHeader = "vantory hide 1";
}  // namespace

std::string HideRecordPath(const ProgramState& state) {
    return state.strSystemDir + platform::kSeparator + "regInfo.hide";
}

platform::Status WriteHideRecord(const ProgramState& state, const HideRecord& record) {
    std::string text;
    const auto add = [&](std::string_view line) {
        text += Seal(line, state.strPassword);
        text += "\r\n";
    };
    add(kHeader);
    add(record.storageDir);
    add(record.extension);
    add(std::to_string(record.firstPosition));
    for (const std::string& path : record.picked) {
        add(path);
    }
    return platform::writeFileAtomically(HideRecordPath(state), text);
}

std::optional<HideRecord> ReadHideRecord(const ProgramState& state, bool& readable) {
    readable = true;
    platform::Status status;
    const auto content = platform::readWholeFile(HideRecordPath(state), &status);
    if (!content) {
        readable = status.error == ENOENT;
        return std::nullopt;
    }
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(*content)) {
        lines.push_back(Unseal(line, state.strPassword));
    }
    HideRecord record;
    const auto& position = lines.size() >= 4 ? lines[3] : std::string();
    const auto parsed =
        std::from_chars(position.data(), position.data() + position.size(), record.firstPosition);
    if (lines.size() < 4 || lines[0] != kHeader || parsed.ec != std::errc() ||
        parsed.ptr != position.data() + position.size()) {
        readable = false;
        return std::nullopt;
    }
    record.storageDir = lines[1];
    record.extension = lines[2];
    record.picked.assign(lines.begin() + 4, lines.end());
    return record;
}

platform::Status RemoveHideRecord(const ProgramState& state) {
    const platform::Status removed = platform::removeFile(HideRecordPath(state));
    if (removed.ok()) {
        platform::syncFolder(state.strSystemDir);
    }
    return removed.error == ENOENT ? platform::Status::success() : removed;
}

}  // namespace vantory
