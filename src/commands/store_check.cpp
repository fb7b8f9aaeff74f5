#include "commands/store_check.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <tuple>

#include "cipher/cipher.h"
#include "commands/restore_command.h"
#include "commands/salvage.h"
#include "store/file_services.h"
#include "store/open_copies.h"
#include "store/settings_file.h"
#include "store/stored_name.h"

namespace vantory {

namespace {

constexpr const char* kErrorTitle = "Error";

// The stored number of an unsealed catalogue line ("1|100|path"), when it is the three-digit
// number of the entry at `position`.
bool ownNumber(const std::string& line, size_t position, std::string& number) {
    if (line.size() < 6 || line[1] != '|' || line[5] != '|') {
        return false;
    }
    number = line.substr(2, 3);
    if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    return std::stoul(number) == position + 100;
}

// Whether the hidden file is back at its path, or beside it under a restored name.
bool backInPlace(const std::string& path) {
    if (platform::pathExists(path)) {
        return true;
    }
    for (int n = 1; n <= kBesideNames; ++n) {
        if (platform::pathExists(RestoredBesideName(path, n))) {
            return true;
        }
    }
    return false;
}

// Entries whose file Run Selected File holds under a temporary name: not missing.
std::set<std::string> openPlainEntries(const ProgramState& state) {
    bool readable = true;
    std::set<std::string> paths;
    for (const OpenCopy& copy : ReadOpenCopies(state, readable)) {
        if (!copy.sealed && platform::pathExists(copy.temporaryPath)) {
            paths.insert(copy.entryPath);
        }
    }
    return paths;
}

// Whether the settings file's `content` says just what `state` and `catalogue` say, so that
// saving them would change nothing.
bool fileHolds(std::string_view content, const ProgramState& state, const Catalogue& catalogue,
               Pacer* pacer) {
    bool cut = false;
    const std::vector<std::string_view> lines = SettingsFileLines(content, cut);
    ProgramState read = state;
    if (cut || lines.size() != 3 + catalogue.size() ||
        !SettingsFromLines(lines, cut, read, pacer).ok() ||
        std::tie(read.strPassword, read.strStorageDir, read.strExtension) !=
            std::tie(state.strPassword, state.strStorageDir, state.strExtension)) {
        return false;
    }
    for (size_t position = 0; position < catalogue.size(); ++position) {
        if (CatalogueEntryOf(lines[3 + position], position, state.strPassword, pacer) !=
            catalogue.at(position)) {
            return false;
        }
    }
    return true;
}

// Files Vantory stored under the names past the end of the list: a list cut short at the end
// of a line reads whole and leaves them unlisted. They are named, and kept as they are.
void tellUnlistedStoredFiles(CommandContext& context) {
    const ProgramState& state = context.state;
    const std::vector<std::string> unlisted = UnlistedStoredFiles(state, context.catalogue.size());
    if (unlisted.empty()) {
        return;
    }
    context.ui.messageBox(
        WithPaths("These files in the storage folder were hidden by Vantory, but the list of "
                  "hidden files in " +
                      SettingsPath(state) +
                      " does not name them: the list may have been cut short.  They are kept "
                      "as they are.  To get their content back, close Vantory and run "
                      "vantory --salvage, which moves them into " +
                      RecoveredFolder(state.strStorageDir) +
                      " with an unsealed copy of each sealed one:",
                  unlisted),
        UiServices::kExclamation, kErrorTitle);
}

}  // namespace

std::string DeletedFromStorageText(const std::vector<std::string>& paths) {
    std::string text = "Error!  The file(s)";
    for (const std::string& path : paths) {
        text += " " + path + " ";
    }
    return text + " was deleted from storage.";
}

void HideFiles(CommandContext& context) {
    ProgramState& state = context.state;
    WindowPacing pacing(state, context.ui);
    const size_t n = context.catalogue.size();
    state.intProgressTotal = ProgressCount(n);
    for (size_t position = 0; position < n; ++position) {
        state.intProgress = ProgressCount(position + 1);
        tick(pacing.slowRun());
        // Set even where they are set already: a file stored by an earlier version may still
        // be readable by others. Nothing but a regular file is touched.
        const std::string path = StoredPath(state, position);
        if (platform::isRegularFile(path)) {
            (void)platform::setAttributes(path, platform::kStoredAttributes);
        }
    }
}

std::vector<std::string> ErrorRemoveFiles(CommandContext& context, const MoveFunction& move,
                                          const std::function<void()>& listChanged) {
    ProgramState& state = context.state;
    UiServices& ui = context.ui;
    Catalogue& catalogue = context.catalogue;

    if (catalogue.empty()) {
        tellUnlistedStoredFiles(context);
        return {};
    }
    // The catalogue was read from this file moments ago; should it not be readable now, there
    // is nothing to compare with, and the check waits for the next start.
    // It is read by the same rules as at the start: no link is followed, and no file larger
    // than a settings file can be is read.
    Result read;
    const std::optional<std::string> content = ReadSettingsFile(SettingsPath(state), read);
    if (!content) {
        ui.messageBox("The hidden files could not be checked: " + SettingsPath(state) +
                          " cannot be read (" + read.message() +
                          ").  The list of hidden files is kept as it is, and Vantory checks it "
                          "again at its next start.",
                      UiServices::kExclamation, kErrorTitle);
        return {};
    }
    const std::vector<std::string> lines = SplitLines(*content);

    // Without the storage folder (a drive not connected) every entry would look lost, and
    // dropping them would leave their files unlisted once the folder is back.
    if (!platform::isFolder(state.strStorageDir)) {
        ui.messageBox("The storage folder " + state.strStorageDir +
                          " cannot be found, so the hidden files could not be checked.  The list "
                          "of hidden files is kept as it is, and Vantory checks it again at its "
                          "next start.  Should the folder be gone for good, create it again: the "
                          "next start then drops the files that are missing.",
                      UiServices::kExclamation, kErrorTitle);
        return {};
    }

    // Scan the catalogue lines, one per entry. A line that does not say what its entry says
    // (the file changed since it was read) is left as it is.
    std::vector<size_t> missing;
    std::vector<std::string> strange;  // entries whose stored name holds no regular file
    const std::set<std::string> open = openPlainEntries(state);
    {
        WindowPacing pacing(state, ui);
        size_t position = 0;
        for (size_t i = 3; i < lines.size() && position < catalogue.size(); ++i) {
            tick(pacing.slowRun());
            const std::string line = Unseal(lines[i], state.strPassword, pacing.slowRun());
            if (line.size() < 6) {
                continue;
            }
            const size_t entry = position++;
            std::string number;
            if (!ownNumber(line, entry, number) || line.substr(6) != catalogue.at(entry).path) {
                continue;  // not what this entry should say: it is left as it is
            }
            const std::string stored = state.strStorageDir + number + "." + state.strExtension;
            // Only an entry with nothing at all under its stored name has lost its file;
            // anything else there (a folder, a link) is kept, as the renumbering would
            // otherwise move another file over it. A stored file keeps its attributes: the
            // renumbering moves it as it is, and it never lies open to others meanwhile.
            const bool present = platform::pathExists(stored);
            if (!present && open.count(catalogue.at(entry).path) == 0) {
                missing.push_back(entry);
            } else if (present && !platform::isRegularFile(stored)) {
                strange.push_back(catalogue.at(entry).path + "  (" + stored + " is " +
                                  NotAFile(stored) + ")");
            }
        }
    }

    context.busy.OpRunning(true);
    std::vector<std::string> lost;     // really gone
    std::vector<std::string> inPlace;  // at their paths: restored, or never moved away
    Result failure;
    if (!missing.empty()) {
        MovePlan plan;
        plan.password = state.strPassword;
        plan.storageDir = state.strStorageDir;
        plan.extension = state.strExtension;
        std::vector<size_t> kept;
        for (size_t position = 0, next = 0; position < catalogue.size(); ++position) {
            if (next < missing.size() && missing[next] == position) {
                ++next;
                continue;
            }
            kept.push_back(position);
            plan.catalogue.append(catalogue.at(position));
        }
        plan.moves = RenumberingMoves(state, kept);
        // The wait cursor shows over the whole renumbering: moves that do not depend on each
        // other run on several threads, which must not reach the window.
        WaitCursor cursor(ui);
        WindowPacing pacing(state, ui);
        const MoveOutcome outcome =
            CarryOutMoves(state, plan, move ? move : MoveFunction(ShellFileOp), pacing.both());
        if (outcome.status.ok()) {
            for (const size_t position : missing) {
                const std::string& path = catalogue.at(position).path;
                (backInPlace(path) ? inPlace : lost).push_back(path);
            }
            catalogue = plan.catalogue;
        } else {
            failure = outcome.status;
        }
    }
    HideFiles(context);
    // A start that changed nothing leaves the file as it is.
    WindowPacing pacing(state, ui);
    if (missing.empty() && !fileHolds(*content, state, catalogue, pacing.slowRun())) {
        if (Status saved = saveList(state, catalogue, pacing.slowRun()); !saved.ok()) {
            failure = saved;
        }
    }
    if (listChanged) {
        listChanged();
    }
    context.busy.OpRunning(false);

    if (!strange.empty()) {
        ui.messageBox(WithPaths("These hidden files stay in the list, but what stands under "
                                "their stored names is not a file Vantory stored, so they "
                                "cannot be restored or opened until it is moved away and the "
                                "stored file is put back; nothing was read or changed there:",
                                strange),
                      UiServices::kExclamation, kErrorTitle);
    }
    if (!inPlace.empty()) {
        std::string text =
            "These files have no stored copy, but they are in their places (put back, or never "
            "moved away, before Vantory was stopped), so they left the list of hidden files:";
        ui.messageBox(WithPaths(text, inPlace), UiServices::kInformation, "Interrupted operation");
    }
    if (!lost.empty()) {
        ui.messageBox(DeletedFromStorageText(lost), UiServices::kExclamation, kErrorTitle);
    } else if (!missing.empty() && inPlace.empty()) {
        std::string text = "The stored files of these hidden files are missing:";
        for (const size_t position : missing) {
            text += "\r\n" + catalogue.at(position).path;
        }
        text += "\r\n\r\nThe stored files after them could not be renumbered (" +
                failure.message() +
                "), so the list is left as it was. Vantory checks it again at its next start.";
        ui.messageBox(text, UiServices::kExclamation, kErrorTitle);
    } else if (!failure.ok()) {
        ui.messageBox("The list of hidden files in " + SettingsPath(state) +
                          " could not be written (" + failure.message() + ").",
                      UiServices::kExclamation, kErrorTitle);
    }
    tellUnlistedStoredFiles(context);
    return lost;
}

}  // namespace vantory
