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

bool IsStorageFolderPath(std::string_view folder) {
    return !folder.empty() && platform::isSeparator(folder.back()) &&
           platform::isAbsolutePath(std::string(folder));
}

std::string SettingsFileProblem(const Result& result) {
    if (result.is(Reason::kDamagedSettings)) {
        return "it is damaged: it does not hold Vantory's settings and list of hidden files as "
               "Vantory writes them";
    }
    if (result.is(Reason::kSettingsTooLarge)) {
        return "it is damaged: it is larger than any settings file Vantory writes (" +
               std::to_string(kMaxSettingsFileSize) + " bytes)";
    }
    return "it cannot be read (" + result.status.message() + ")";
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
    const std::string path = platform::withoutClosingSeparators(folder);
    // Only a folder that is not there at all is made. Whatever else is at the path is left
    // to the writes that follow, which say what is wrong with it; nothing is written to find
    // out, so a crash here leaves nothing behind.
    if (platform::probePath(path + platform::kSeparator).error != ENOENT) {
        return Status::success();
    }
    return platform::makeFolder(path, 0700);
}

Status WriteFactorySettings(const ProgramState& state, Pacer* pacer) {
    return platform::writeFileAtomically(SettingsPath(state), settingsLines(state, pacer));
}

std::vector<std::string_view> SettingsFileLines(std::string_view content, bool& cut) {
    cut =
        !content.empty() && (content.size() < 2 || content.substr(content.size() - 2) != kLineEnd);
    std::vector<std::string_view> lines = SplitLineViews(content);
    while (lines.size() > 3 && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

Result SettingsFromLines(const std::vector<std::string_view>& lines, bool cut, ProgramState& state,
                         Pacer* pacer) {
    // A cut in the third line leaves a shorter extension that still looks whole.
    if (lines.size() < 3 || (cut && lines.size() == 3) ||
        !std::all_of(lines.begin(), lines.begin() + 3, isSealedText)) {
        return Reason::kDamagedSettings;
    }
    std::string storageDir = Unseal(lines[1], SettingsKey, pacer);
    // Without an absolute storage folder a hide would move files into whatever folder
    // Vantory was started from.
    if (!IsStorageFolderPath(storageDir)) {
        return Reason::kDamagedSettings;
    }
    state.strPassword = Unseal(lines[0], SettingsKey, pacer);
    state.strStorageDir = std::move(storageDir);
    state.strExtension = Unseal(lines[2], SettingsKey, pacer);
    return Status::success();
}

std::optional<CatalogueEntry> CatalogueEntryOf(std::string_view line, size_t position,
                                               std::string_view password, Pacer* pacer) {
    if (!isSealedText(line)) {
        return std::nullopt;
    }
    const std::string unsealed = Unseal(line, password, pacer);
    if (!isEntryOf(unsealed, position)) {
        return std::nullopt;
    }
    return CatalogueEntry{unsealed.substr(6), unsealed[0] == '1'};
}

std::optional<std::string> ReadSettingsFile(const std::string& path, Result& result,
                                            bool keepStart) {
    result = {};
    if (const auto size = platform::fileSize(path);
        !keepStart && size && *size > kMaxSettingsFileSize) {
        result = Reason::kSettingsTooLarge;
        return std::nullopt;
    }
    platform::InputFile file;
    if (Status opened = file.open(path); !opened.ok()) {
        result = opened;
        return std::nullopt;
    }
    std::string content;
    constexpr size_t kPiece = 65536;
    for (;;) {
        const size_t had = content.size();
        content.resize(had + kPiece);
        size_t got = 0;
        if (Status read = file.read(content.data() + had, kPiece, got); !read.ok()) {
            result = read;
            return std::nullopt;
        }
        content.resize(had + got);
        if (content.size() > kMaxSettingsFileSize) {
            result = Reason::kSettingsTooLarge;
            if (!keepStart) {
                return std::nullopt;
            }
            content.resize(kMaxSettingsFileSize);
            return content;
        }
        if (got < kPiece) {
            return content;
        }
    }
}

Result ReadSettings(ProgramState& state, Pacer* pacer) {
    Result status;
    const auto content = ReadSettingsFile(SettingsPath(state), status);
    if (!content) {
        return status;
    }
    bool cut = false;
    const std::vector<std::string_view> lines = SettingsFileLines(*content, cut);
    if (cut) {
        return Reason::kDamagedSettings;
    }
    return SettingsFromLines(lines, cut, state, pacer);
}

std::string CatalogueLine(size_t position, const CatalogueEntry& entry) {
    return std::string(entry.sealed ? "1" : "0") + "|" + std::to_string(position + 100) + "|" +
           entry.path;
}

Status saveList(ProgramState& state, const Catalogue& catalogue, Pacer* pacer) {
    state.intProgress = 1;
    if (catalogue.size() > kMaxCatalogueEntries) {
        return Status{EFBIG};
    }
    std::string text = settingsLines(state, pacer);
    for (; static_cast<size_t>(state.intProgress) <= catalogue.size(); ++state.intProgress) {
        const size_t position = static_cast<size_t>(state.intProgress) - 1;
        text += Seal(CatalogueLine(position, catalogue.at(position)), state.strPassword, pacer);
        text += kLineEnd;
    }
    return platform::writeFileAtomically(SettingsPath(state), text);
}

Result loadList(const ProgramState& state, Catalogue& catalogue, Pacer* pacer) {
    Result status;
    const auto content = ReadSettingsFile(SettingsPath(state), status);
    if (!content) {
        return status;
    }
    bool cut = false;
    const std::vector<std::string_view> lines = SettingsFileLines(*content, cut);
    // A cut line unseals to a shorter path, which a restore would write the file to.
    if (cut || lines.size() < 3 || lines.size() - 3 > kMaxCatalogueEntries) {
        return Reason::kDamagedSettings;
    }
    std::vector<CatalogueEntry> entries;
    for (size_t i = 3; i < lines.size(); ++i) {
        std::optional<CatalogueEntry> entry =
            CatalogueEntryOf(lines[i], entries.size(), state.strPassword, pacer);
        if (!entry) {
            return Reason::kDamagedSettings;
        }
        entries.push_back(std::move(*entry));
    }
    for (CatalogueEntry& entry : entries) {
        catalogue.append(std::move(entry));
    }
    return Status::success();
}

bool FileExists(const std::string& path) {
    return platform::fileExists(path);
}

std::vector<std::string_view> SplitLineViews(std::string_view content) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < content.size()) {
        const size_t end = std::min(content.find_first_of("\r\n", start), content.size());
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
        if (end < content.size() && content[end] == '\r' && start < content.size() &&
            content[start] == '\n') {
            ++start;
        }
    }
    return lines;
}

std::vector<std::string> SplitLines(std::string_view content) {
    const std::vector<std::string_view> views = SplitLineViews(content);
    return {views.begin(), views.end()};
}

}  // namespace vantory
