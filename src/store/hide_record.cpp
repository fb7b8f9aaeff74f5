#include "store/hide_record.h"

#include <charconv>

#include "store/sealed_record.h"

namespace vantory {

namespace {
constexpr std::string_view kHeader = "vantory hide 1";
}  // namespace

std::string HideRecordPath(const ProgramState& state) {
    return state.strSystemDir + platform::kSeparator + "regInfo.hide";
}

platform::Status WriteHideRecord(const ProgramState& state, const HideRecord& record) {
    std::vector<std::string> lines = {record.storageDir, record.extension,
                                      std::to_string(record.firstPosition)};
    lines.insert(lines.end(), record.picked.begin(), record.picked.end());
    return WriteSealedRecord(HideRecordPath(state), kHeader, lines, state.strPassword);
}

std::optional<HideRecord> ReadHideRecord(const ProgramState& state, bool& readable) {
    const auto lines =
        ReadSealedRecord(HideRecordPath(state), kHeader, state.strPassword, readable);
    if (!lines) {
        return std::nullopt;
    }
    HideRecord record;
    const std::string& position = lines->size() >= 3 ? (*lines)[2] : std::string();
    const char* end = position.data() + position.size();
    const auto parsed = std::from_chars(position.data(), end, record.firstPosition);
    if (lines->size() < 3 || parsed.ec != std::errc() || parsed.ptr != end) {
        readable = false;
        return std::nullopt;
    }
    record.storageDir = (*lines)[0];
    record.extension = (*lines)[1];
    record.picked.assign(lines->begin() + 3, lines->end());
    return record;
}

platform::Status RemoveHideRecord(const ProgramState& state) {
    return RemoveSealedRecord(HideRecordPath(state));
}

}  // namespace vantory
