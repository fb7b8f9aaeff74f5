#include "store/open_copies.h"

#include "store/sealed_record.h"

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
        return RemoveSealedRecord(OpenCopiesPath(state));
    }
    std::vector<std::string> lines;
    for (const OpenCopy& copy : copies) {
        lines.insert(lines.end(), {copy.temporaryPath, copy.storedPath, copy.entryPath,
                                   copy.sealed ? "1" : "0"});
    }
    return WriteSealedRecord(OpenCopiesPath(state), kHeader, lines, state.strPassword);
}

std::vector<OpenCopy> ReadOpenCopies(const ProgramState& state, bool& readable) {
    const auto lines =
        ReadSealedRecord(OpenCopiesPath(state), kHeader, state.strPassword, readable);
    std::vector<OpenCopy> copies;
    if (!lines) {
        return copies;
    }
    if (lines->size() % kLinesPerCopy != 0) {
        readable = false;
        return copies;
    }
    for (size_t i = 0; i < lines->size(); i += kLinesPerCopy) {
        const std::string& sealed = (*lines)[i + 3];
        if (sealed != "0" && sealed != "1") {
            readable = false;
            return {};
        }
        copies.push_back({(*lines)[i], (*lines)[i + 1], (*lines)[i + 2], sealed == "1"});
    }
    return copies;
}

}  // namespace vantory
