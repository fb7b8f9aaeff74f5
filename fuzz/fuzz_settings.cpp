// An arbitrary regInfo.lst in a private settings folder: the settings read and loadList.
// Checks, for every input:
//  - a file of fewer than three lines is refused and leaves the settings as they were;
//  - loadList makes at most one entry per catalogue line, each from a line that unseals to
//    six characters or more, in file order, with the flag and path of that line;
//  - whatever was read is written back by saveList as a file of sealed lines alone, which
//    reads back to the same settings and the same catalogue.
// The input is the whole file.

#include <cstdint>
#include <string>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = fuzz::scratchFolder() + "/settings";
    fuzz::emptyFolder(folder);
    const std::string content(reinterpret_cast<const char*>(data), size);
    ProgramState state = stateIn(folder);
    FUZZ_CHECK(platform::writeFileAtomically(SettingsPath(state), content).ok());
    fuzz::QuietUi ui;
    state.bolSlowRun = size > 0 && (data[0] & 1) != 0;

    const std::vector<std::string> lines = SplitLines(content);
    if (!ReadSettings(state, ui).ok()) {
        FUZZ_CHECK(lines.size() < 3);
        FUZZ_CHECK(sameSettings(state, stateIn(folder)));
        return 0;
    }
    FUZZ_CHECK(lines.size() >= 3);
    FUZZ_CHECK(state.strPassword == Unseal(lines[0], SettingsKey));
    FUZZ_CHECK(state.strStorageDir == Unseal(lines[1], SettingsKey));
    FUZZ_CHECK(state.strExtension == Unseal(lines[2], SettingsKey));

    Catalogue catalogue;
    FUZZ_CHECK(loadList(state, catalogue, ui).ok());
    FUZZ_CHECK(catalogue.size() <= lines.size() - 3);
    // Each entry is the next catalogue line long enough to hold one.
    size_t line = 3;
    for (const CatalogueEntry& entry : catalogue.entries()) {
        std::string unsealed;
        do {
            FUZZ_CHECK(line < lines.size());
            unsealed = Unseal(lines[line++], state.strPassword);
        } while (unsealed.size() < 6);
        FUZZ_CHECK(entry.path == unsealed.substr(6));
        FUZZ_CHECK(entry.sealed == (unsealed[0] == '1'));
    }
    for (; line < lines.size(); ++line) {
        FUZZ_CHECK(Unseal(lines[line], state.strPassword).size() < 6);
    }
    FUZZ_CHECK(ui.messages == 0);

    // Written back, it reads back the same.
    if (catalogue.size() > kMaxCatalogueEntries) {
        return 0;
    }
    FUZZ_CHECK(saveList(state, catalogue, ui).ok());
    const auto written = platform::readWholeFile(SettingsPath(state));
    FUZZ_CHECK(written.has_value());
    const std::vector<std::string> writtenLines = SplitLines(*written);
    FUZZ_CHECK(writtenLines.size() == 3 + catalogue.size());
    for (const unsigned char c : *written) {
        FUZZ_CHECK((c >= 59 && c <= 122) || c == '\r' || c == '\n');
    }
    ProgramState again = stateIn(folder);
    FUZZ_CHECK(ReadSettings(again, ui).ok());
    FUZZ_CHECK(sameSettings(again, state));
    Catalogue reloaded;
    FUZZ_CHECK(loadList(again, reloaded, ui).ok());
    FUZZ_CHECK(reloaded == catalogue);
    return 0;
}
