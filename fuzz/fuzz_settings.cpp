// regInfo.lst from the input through ReadSettings, loadList and saveList, each result checked
// against the lines: a file cut short (no CR LF at its end) or naming no absolute storage
// folder is never read.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "cipher/cipher.h"
#include "fuzz_support.h"
#include "platform/platform.h"
#include "store/catalogue.h"
#include "store/program_state.h"
#include "store/settings_file.h"

namespace {

using namespace vantory;

ProgramState stateIn(const std::string& folder) {
    ProgramState state;
    state.strSystemDir = folder;
    state.strPassword = "before";
    state.strStorageDir = "/before/";
    state.strExtension = "bef";
    return state;
}

bool sameSettings(const ProgramState& a, const ProgramState& b) {
    return a.strPassword == b.strPassword && a.strStorageDir == b.strStorageDir &&
           a.strExtension == b.strExtension;
}

bool sealedText(const std::string& line) {
    return std::all_of(line.begin(), line.end(),
                       [](unsigned char c) { return c >= 59 && c <= 122; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = fuzz::scratchFolder() + "/settings";
    fuzz::emptyFolder(folder);
    const std::string content(reinterpret_cast<const char*>(data), size);
    ProgramState state = stateIn(folder);
    FUZZ_CHECK(platform::writeFileAtomically(SettingsPath(state), content).ok());
    fuzz::QuietUi ui;
    state.bolSlowRun = size > 0 && (data[0] & 1) != 0;

    std::vector<std::string> lines = SplitLines(content);
    const bool cut = !content.empty() && (size < 2 || content.compare(size - 2, 2, "\r\n") != 0);
    if (const Result read = ReadSettings(state); !read.ok()) {
        FUZZ_CHECK(read.is(Reason::kDamagedSettings));
        FUZZ_CHECK(cut || lines.size() < 3 || !sealedText(lines[0]) || !sealedText(lines[1]) ||
                   !sealedText(lines[2]) || !IsStorageFolderPath(Unseal(lines[1], SettingsKey)));
        FUZZ_CHECK(sameSettings(state, stateIn(folder)));
        return 0;
    }
    FUZZ_CHECK(lines.size() >= 3 && !cut && IsStorageFolderPath(state.strStorageDir));
    FUZZ_CHECK(state.strPassword == Unseal(lines[0], SettingsKey));
    FUZZ_CHECK(state.strStorageDir == Unseal(lines[1], SettingsKey));
    FUZZ_CHECK(state.strExtension == Unseal(lines[2], SettingsKey));

    while (lines.size() > 3 && lines.back().empty()) {
        lines.pop_back();
    }
    Catalogue catalogue;
    const Result loaded = loadList(state, catalogue);
    bool wellFormed = true;
    for (size_t line = 3; line < lines.size(); ++line) {
        const std::string unsealed = Unseal(lines[line], state.strPassword);
        const size_t p = line - 3;
        const bool entry = sealedText(lines[line]) && unsealed.size() >= 6 &&
                           (unsealed[0] == '0' || unsealed[0] == '1') &&
                           unsealed.substr(1, 5) == "|" + std::to_string(p + 100) + "|";
        wellFormed = wellFormed && entry;
        if (loaded.ok()) {
            FUZZ_CHECK(entry);
            FUZZ_CHECK(catalogue.at(p).path == unsealed.substr(6));
            FUZZ_CHECK(catalogue.at(p).sealed == (unsealed[0] == '1'));
        }
    }
    FUZZ_CHECK(loaded.ok() == wellFormed);
    FUZZ_CHECK(loaded.ok() ? catalogue.size() == lines.size() - 3 : catalogue.empty());
    FUZZ_CHECK(loaded.ok() || loaded.is(Reason::kDamagedSettings));
    FUZZ_CHECK(ui.messages == 0);
    if (!loaded.ok()) {
        return 0;
    }

    // Written back, it reads back the same.
    if (catalogue.size() > kMaxCatalogueEntries) {
        return 0;
    }
    FUZZ_CHECK(saveList(state, catalogue).ok());
    const auto written = platform::readWholeFile(SettingsPath(state));
    FUZZ_CHECK(written && SplitLines(*written).size() == 3 + catalogue.size());
    const std::vector<std::string> writtenLines = SplitLines(*written);
    FUZZ_CHECK(std::all_of(writtenLines.begin(), writtenLines.end(), sealedText));
    ProgramState saved = stateIn(folder);
    FUZZ_CHECK(ReadSettings(saved).ok() && sameSettings(saved, state));
    Catalogue reloaded;
    FUZZ_CHECK(loadList(saved, reloaded).ok() && reloaded == catalogue);
    return 0;
}
