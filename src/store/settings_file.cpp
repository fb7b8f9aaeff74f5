#include "store/settings_file.h"

#include <algorithm>
#include <cerrno>

#include "cipher/cipher.h"

namespace vantory {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::string settingsLines(const ProgramState& state, Pacer* pacer) {
    std::string text;
    for (const std::string* value :
         {&state.strPassword, &state.strStorageDir, &state.strExtension}) {
        text += Seal(*value, SettingsKey, pacer);
        text += kLineEnd;
    }
    return text;
}

// Every character of a sealed text is one of ';' to 'z'.
bool isSealedText(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c >= ';' && c <= 'z'; });
}

// An unsealed catalogue line is "<flag>|<position + 100>|<path>", the flag being 0 or 1.
bool isEntryOf(std::string_view line, size_t position) {
    return line.size() >= 6 && (line[0] == '0' || line[0] == '1') && line[1] == '|' &&
           line.substr(2, 3) == std::to_string(position + 100) && line[5] == '|';
}

}  // namespace

std::string SettingsFileProblem(const Status& status) {
    if (status.error == kDamagedSettings) {
        return "it is damaged: it does not hold Vantory's settings and list of hidden files as "
               "Vantory writes them";
    }
    return "it cannot be read (" + status.message() + ")";
}

void SetPassword(ProgramState& state, const std::string& password) {
    state.strPassword = password;
}

void SetExtension(ProgramState& state, const std::string& extension) {
    state.strExtension = extension;
}

std::string SettingsPath(const ProgramState& state) {
    return state.strSystemDir + platform::kSeparator + kSettingsFileName;
}

Status GetSysDir(ProgramState& state) {
    state.strSystemDir = platform::settingsFolder();
    if (Status s = platform::ensureFolder(state.strSystemDir, 0700); !s.ok()) {
        return s;
    }
    return platform::makePrivateFolder(state.strSystemDir);  // found open to others
}

Status SetStorageDir(ProgramState& state, const std::string& folder) {
    state.strStorageDir = folder;
    std::string path = folder;
    while (path.size() > 1 && platform::isSeparator(path.back())) {
        path.pop_back();
    }
    // Only a folder that is not there at all is made. Whatever else is at the path is left
    // to the writes that follow, which say what is wrong with it; nothing is written to find
    // out, so a crash here leaves nothing behind.
    if (platform::probePath(path + platform::kSeparator).error != ENOENT) {
        return Status::success();
    }
    return platform::makeFolder(path, 0700);
}

Status WriteFactorySettings(const ProgramState& state, UiServices& ui) {
    SlowRunPacer pacer(state, ui);
    return platform::writeFileAtomically(SettingsPath(state), settingsLines(state, pacer.get()));
}

Status ReadSettings(ProgramState& state, UiServices& ui) {
    Status status;
    const auto content = platform::readWholeFile(SettingsPath(state), &status);
    if (!content) {
        return status;
    }
    const std::vector<std::string> lines = SplitLines(*content);
    if (lines.size() < 3 || !std::all_of(lines.begin(), lines.begin() + 3, isSealedText)) {
        return Status{kDamagedSettings};
    }
    SlowRunPacer pacer(state, ui);
    state.strPassword = Unseal(lines[0], SettingsKey, pacer.get());
    state.strStorageDir = Unseal(lines[1], SettingsKey, pacer.get());
    state.strExtension = Unseal(lines[2], SettingsKey, pacer.get());
    return Status::success();
}

std::string CatalogueLine(size_t position, const CatalogueEntry& entry) {
    return std::string(entry.sealed ? "1" : "0") + "|" + std::to_string(position + 100) + "|" +
           entry.path;
}

Status saveList(ProgramState& state, const Catalogue& catalogue, UiServices& ui) {
    state.intProgress = 1;
    if (catalogue.size() > kMaxCatalogueEntries) {
        return Status{EFBIG};
    }
    SlowRunPacer pacer(state, ui);
    std::string text = settingsLines(state, pacer.get());
    for (; static_cast<size_t>(state.intProgress) <= catalogue.size(); ++state.intProgress) {
        const size_t position = static_cast<size_t>(state.intProgress) - 1;
        text +=
            Seal(CatalogueLine(position, catalogue.at(position)), state.strPassword, pacer.get());
        text += kLineEnd;
    }
    return platform::writeFileAtomically(SettingsPath(state), text);
}

Status loadList(const ProgramState& state, Catalogue& catalogue, UiServices& ui) {
    Status status;
    const auto content = platform::readWholeFile(SettingsPath(state), &status);
    if (!content) {
        return status;
    }
    std::vector<std::string> lines = SplitLines(*content);
    while (lines.size() > 3 && lines.back().empty()) {
        lines.pop_back();
    }
    SlowRunPacer pacer(state, ui);
    std::vector<CatalogueEntry> entries;
    for (size_t i = 3; i < lines.size(); ++i) {
        const std::string line = Unseal(lines[i], state.strPassword, pacer.get());
        if (!isSealedText(lines[i]) || !isEntryOf(line, entries.size())) {
            return Status{kDamagedSettings};
        }
        entries.push_back({line.substr(6), line[0] == '1'});
    }
    for (CatalogueEntry& entry : entries) {
        catalogue.append(std::move(entry));
    }
    return Status::success();
}

bool FileExists(const std::string& path) {
    return platform::fileExists(path);
}

std::vector<std::string> SplitLines(std::string_view content) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        const size_t end = content.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(content.substr(start));
            break;
        }
        lines.emplace_back(content.substr(start, end - start));
        start = end + 1;
        if (content[end] == '\r' && start < content.size() && content[start] == '\n') {
            ++start;
        }
    }
    return lines;
}

}  // namespace vantory
