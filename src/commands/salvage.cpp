#include "commands/salvage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "cipher/cipher.h"
#include "commands/change_password.h"
#include "commands/startup.h"
#include "platform/fs_path.h"
#include "store/file_services.h"
#include "store/move_journal.h"
#include "store/open_copies.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"

namespace vantory {

namespace {

// Names tried for one kept or recovered file before giving up on it.
constexpr int kFreeNames = 1000;

SalvageResult failed(std::vector<std::string> lines, std::string last) {
    lines.push_back(std::move(last));
    return {false, std::move(lines)};
}

// `base`, then `base` with "-2", "-3", ... inserted by `named`, until `make` does not find the
// name taken (EEXIST). Returns the name used, or nullopt with the last failure.
template <class Named, class Make>
std::optional<std::string> underFreeName(const Named& named, const Make& make, Status& status) {
    for (int n = 1; n <= kFreeNames; ++n) {
        const std::string name = named(n);
        status = make(name);
        if (status.ok()) {
            return name;
        }
        if (status.error != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// Whether the file has the shape of a sealed stored file: sealed characters only, with a CR LF
// at the end at most. Plain content of that shape is possible too, so a file that looks sealed
// is unsealed into a new file and also kept as it is.
bool looksSealed(const std::string& path) {
    platform::InputFile file;
    if (!file.open(path).ok()) {
        return false;
    }
    std::string piece(65536, '\0');
    std::string tail;  // what follows the sealed characters: at most CR LF, at the end
    for (;;) {
        size_t got = 0;
        if (!file.read(piece.data(), piece.size(), got).ok()) {
            return false;
        }
        for (size_t i = 0; i < got; ++i) {
            const char c = piece[i];
            if (tail.empty() && c >= ';' && c <= 'z') {
                continue;
            }
            tail += c;
            if (tail.size() > 2 || tail != std::string_view("\r\n").substr(0, tail.size())) {
                return false;
            }
        }
        if (got < piece.size()) {
            return tail.empty() || tail == "\r\n";
        }
    }
}

struct Recovery {
    std::vector<std::string> lines;
    bool ok = true;
};

// Moves the stored file `stored` into `folder` (and first unseals a copy there when it looks
// sealed), never over a file already there.
void recoverStoredFile(const ProgramState& state, const std::string& stored,
                       const std::string& folder, Recovery& recovery) {
    const std::string name = platform::baseName(stored);
    const std::string number = name.substr(0, 3);
    const auto inFolder = [&folder](const std::string& base) {
        return [&folder, base](int n) {
            return folder + platform::kSeparator + "recovered-" +
                   (n == 1 ? std::string() : std::to_string(n) + "-") + base;
        };
    };
    if (!platform::isRegularFile(stored)) {
        recovery.ok = false;
        recovery.lines.push_back(stored + " is not a regular file; it is left as it is.");
        return;
    }
    Status status;
    std::string unsealedNote;
    if (looksSealed(stored)) {
        const auto unsealed = underFreeName(
            inFolder(number + "-unsealed"),
            [&](const std::string& target) {
                // A name already taken is passed over before the whole file is unsealed.
                if (platform::pathExists(target)) {
                    return Status{EEXIST};
                }
                return unsealFile(stored, target, state.strPassword, nullptr, platform::kNormal,
                                  platform::Existing::kKeep);
            },
            status);
        if (!unsealed) {
            recovery.ok = false;
            recovery.lines.push_back(stored + " could not be unsealed (" + status.message() +
                                     "); it is left as it is.");
            return;
        }
        unsealedNote = "; it looks sealed, so its content unsealed with the password is in " +
                       *unsealed + " (not hidden: anyone who can open the folder can read it)";
    }
    const std::optional<int> attributes = platform::getAttributes(stored);
    (void)platform::setAttributes(stored, platform::kNormal);
    const auto moved = underFreeName(
        inFolder(name),
        [&](const std::string& target) { return platform::movePathKeeping(stored, target); },
        status);
    if (!moved) {
        (void)platform::setAttributes(stored, attributes.value_or(platform::kStoredAttributes));
        recovery.ok = false;
        recovery.lines.push_back(stored + " could not be moved to " + folder + " (" +
                                 status.message() + "); it is left as it is" + unsealedNote + ".");
        return;
    }
    recovery.lines.push_back(stored + " is now " + *moved + unsealedNote + ".");
}

// Keeps a copy of the damaged file beside it; returns its name.
std::optional<std::string> keepDamaged(const std::string& path, Status& status) {
    return underFreeName(
        [&path](int n) { return path + ".damaged" + (n == 1 ? "" : "-" + std::to_string(n)); },
        [&path](const std::string& target) {
            return platform::copyFile(path, target, platform::Existing::kKeep);
        },
        status);
}

}  // namespace

std::string RecoveredFolder(const std::string& storageDir) {
    std::string parent = platform::parentFolder(platform::withoutClosingSeparators(storageDir));
    if (parent.empty() || !platform::isSeparator(parent.back())) {
        parent += platform::kSeparator;
    }
    return parent + "recovered";
}

bool LooksStoredByVantory(const std::string& path) {
    const std::optional<int> attributes =
        platform::isRegularFile(path) ? platform::getAttributes(path) : std::nullopt;
    return attributes == platform::kStoredAttributes ||
           (attributes == platform::kReadOnly && looksSealed(path));
}

std::vector<std::string> UnlistedStoredFiles(const ProgramState& state, size_t entries) {
    std::vector<std::string> found;
    for (size_t position = entries; position < kMaxCatalogueEntries; ++position) {
        if (const std::string stored = StoredPath(state, position); LooksStoredByVantory(stored)) {
            found.push_back(stored);
        }
    }
    return found;
}

bool SetStoredFileAside(const ProgramState& state, const std::string& stored, std::string& said) {
    const std::string folder = RecoveredFolder(state.strStorageDir);
    Recovery recovery;
    if (Status made = platform::ensureFolder(folder, 0700); !made.ok()) {
        said = stored + " could not be recovered: the folder " + folder + " cannot be made (" +
               made.message() + ").";
        return false;
    }
    recoverStoredFile(state, stored, folder, recovery);
    said = recovery.lines.back();
    return recovery.ok;
}

namespace {

constexpr const char* kUnchanged = "Nothing was changed.";

// How many stored files of each extension `folder` holds: files named by a number from 100, a
// dot and the extension, that carry the attributes Vantory gives its stored files.
std::map<std::string, size_t> storedExtensions(const std::string& folder) {
    std::map<std::string, size_t> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(platform::fsPath(folder), error), end;
         !error && it != end; it.increment(error)) {
        const std::string name = platform::pathString(it->path().filename());
        const bool numbered = name.size() > 4 && name[0] >= '1' && name[0] <= '9' &&
                              std::isdigit(static_cast<unsigned char>(name[1])) &&
                              std::isdigit(static_cast<unsigned char>(name[2])) && name[3] == '.';
        const std::string path = platform::joinPath(folder, name);
        if (numbered && platform::isRegularFile(path) &&
            platform::getAttributes(path) == platform::kStoredAttributes) {
            ++found[name.substr(4)];
        }
    }
    return found;
}

// Rebuilds settings lines that cannot be read: the storage folder and extension from the
// stored files found, the password from the user. The password is checked against the
// catalogue lines when there are any. Returns why it cannot be done, or nullopt with `state`
// holding the three settings.
std::optional<std::string> rebuildSettings(ProgramState& state,
                                           const std::vector<std::string_view>& lines,
                                           const SalvageOptions& options,
                                           std::vector<std::string>& report) {
    const std::string path = SettingsPath(state);
    // Where to look: the folder given, else the one the storage line still names, else the
    // settings folder, which is the storage folder of the factory settings.
    std::vector<std::string> folders;
    if (!options.storageFolder.empty()) {
        folders.push_back(options.storageFolder);
    } else {
        if (lines.size() >= 2) {
            const std::string named = Unseal(lines[1], SettingsKey);
            if (IsStorageFolderPath(named) && platform::isFolder(named)) {
                folders.push_back(named);
            }
        }
        const std::string settingsFolder = platform::joinPath(state.strSystemDir, "");
        if (folders.empty() || folders[0] != settingsFolder) {
            folders.push_back(settingsFolder);
        }
    }
    std::string searched;
    std::string folder;
    std::map<std::string, size_t> extensions;
    for (const std::string& each : folders) {
        searched += (searched.empty() ? "" : " or ") + each;
        extensions = storedExtensions(each);
        if (!extensions.empty()) {
            folder = each;
            break;
        }
    }
    const std::string damaged =
        "The settings lines of " + path + " (password, storage folder and extension) are damaged";
    if (folder.empty()) {
        return damaged + ", and no stored file was found in " + searched +
               " to rebuild them from.  " + kUnchanged +
               "  If the hidden files are stored elsewhere, name that folder: vantory --salvage "
               "--storage FOLDER.  To start afresh, move the file elsewhere: the stored files "
               "stay where they are.";
    }
    const auto most =
        std::max_element(extensions.begin(), extensions.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    const std::string extension = most->first;

    const std::optional<std::string> password =
        options.askPassword
            ? options.askPassword(damaged + ".  They are rebuilt with the storage folder " +
                                  folder + " and the extension \"" + extension +
                                  "\" of the stored files found there.  Type the password that "
                                  "opens the hidden files: ")
            : std::nullopt;
    if (!password) {
        return damaged + ", and no password was given to rebuild them with.  " + kUnchanged;
    }
    if (!PasswordCanBeTyped(*password)) {
        return "The password given holds a line break, which the password box cannot take.  " +
               std::string(kUnchanged);
    }
    // Catalogue lines that none opens tell a mistyped password.
    size_t entries = 0;
    size_t opened = 0;
    for (size_t i = 3; i < lines.size(); ++i, ++entries) {
        opened += CatalogueEntryOf(lines[i], i - 3, *password).has_value();
    }
    if (entries > 0 && opened == 0) {
        return "The password given opens none of the " + std::to_string(entries) +
               " entries listed in " + path + ".  " + kUnchanged +
               "  Salvage again with the password that opens the hidden files.";
    }
    state.strPassword = *password;
    state.strStorageDir = folder;
    state.strExtension = extension;
    report.push_back(
        "The damaged settings lines are rebuilt from the password given, the storage "
        "folder " +
        folder + " and the extension \"" + extension + "\" of the " + std::to_string(most->second) +
        " stored files found there.");
    for (const auto& [other, count] : extensions) {
        if (other != extension) {
            report.push_back("The " + std::to_string(count) +
                             " stored files with the extension \"" + other +
                             "\" there are left as they are.");
        }
    }
    return std::nullopt;
}

SalvageResult salvage(ProgramState& state, UiServices& ui, const SalvageOptions& options,
                      std::vector<std::string> report) {
    const std::string path = SettingsPath(state);
    const std::string unchanged = kUnchanged;
    if (platform::pathExists(PasswordChangeRecordPath(state))) {
        return failed(report,
                      "A change of password was interrupted, and its record " +
                          PasswordChangeRecordPath(state) +
                          " says which password the stored files are sealed with.  The salvage "
                          "cannot finish that change.  " +
                          unchanged);
    }
    Result read;
    std::optional<std::string> content = ReadSettingsFile(path, read, true);
    if (!content) {
        return failed(report, read.status.error == ENOENT
                                  ? "There is no settings file " + path + " to salvage."
                                  : "The settings file " + path + " cannot be read (" +
                                        read.status.message() + ").  " + unchanged);
    }
    const bool tooLarge = read.is(Reason::kSettingsTooLarge);
    bool cut = false;
    std::vector<std::string_view> lines = SettingsFileLines(*content, cut);
    // Cut between its CR and LF, the last line is whole all the same.
    const bool lastWhole = !tooLarge && (!cut || content->back() == '\r');
    cut = cut || tooLarge;
    const bool rebuilt = !SettingsFromLines(lines, cut, state).ok();
    if (rebuilt) {
        if (std::optional<std::string> why = rebuildSettings(state, lines, options, report)) {
            return failed(report, std::move(*why));
        }
    } else if (!options.storageFolder.empty() && options.storageFolder != state.strStorageDir) {
        report.push_back(
            "The settings lines can be read: the stored files are in the storage "
            "folder they name, " +
            state.strStorageDir + ", not in " + options.storageFolder + ".");
    }
    if (!platform::isFolder(state.strStorageDir)) {
        return failed(report, "The storage folder " + state.strStorageDir +
                                  " cannot be found.  Connect it and salvage again.  " + unchanged);
    }

    // Which lines are whole entries, each for its own position.
    std::vector<size_t> kept;
    Catalogue catalogue;
    std::vector<size_t> damaged;
    for (size_t i = 3; i < lines.size(); ++i) {
        const size_t position = i - 3;
        const bool whole = lastWhole || i + 1 < lines.size();
        std::optional<CatalogueEntry> entry =
            whole ? CatalogueEntryOf(lines[i], position, state.strPassword) : std::nullopt;
        if (entry) {
            kept.push_back(position);
            catalogue.append(std::move(*entry));
        } else {
            damaged.push_back(position);
        }
    }
    // Cut at the end of a line, the list reads whole: only the stored files past it tell.
    const bool unlisted = !UnlistedStoredFiles(state, lines.size() - 3).empty();
    if (damaged.empty() && !cut && !rebuilt && !unlisted) {
        report.push_back("The settings file " + path + " is not damaged: nothing to salvage.");
        return {true, std::move(report)};
    }

    Status status;
    const std::optional<std::string> copy = keepDamaged(path, status);
    if (!copy) {
        return failed(report, "The damaged settings file " + path + " could not be kept (" +
                                  status.message() + ").  " + unchanged);
    }
    report.push_back("The damaged settings file is kept as " + *copy + ".");
    if (tooLarge) {
        report.push_back("It is larger than any settings file Vantory writes; only its first " +
                         std::to_string(kMaxSettingsFileSize) + " bytes were read.");
    }
    // A plain entry's file that was open with Run Selected File when Vantory closed goes back
    // under its stored name first, so that the renumbering below carries it with its entry.
    bool readable = true;
    const std::vector<OpenCopy> open = ReadOpenCopies(state, readable);
    if (!readable) {
        return failed(report, "The record of the files opened with Run Selected File, " +
                                  OpenCopiesPath(state) +
                                  ", cannot be read.  Nothing else was changed.");
    }
    std::vector<OpenCopy> stillOpen;
    for (const OpenCopy& copy : open) {
        if (copy.sealed || !platform::pathExists(copy.temporaryPath)) {
            stillOpen.push_back(copy);  // a plaintext copy: the next start deletes it
            continue;
        }
        if (Status back = platform::movePathKeeping(copy.temporaryPath, copy.storedPath);
            !back.ok()) {
            return failed(report, "The stored file of " + copy.entryPath +
                                      ", open with Run Selected File, could not be moved back "
                                      "from " +
                                      copy.temporaryPath + " to " + copy.storedPath + " (" +
                                      back.message() + ").  Nothing else was changed.");
        }
        (void)platform::setAttributes(copy.storedPath, platform::kStoredAttributes);
        report.push_back(copy.temporaryPath +
                         ", open with Run Selected File, is back in storage as " + copy.storedPath +
                         ".");
    }
    if (stillOpen.size() != open.size()) {
        // Should the record stay as it was, the next start finds those files back already.
        (void)WriteOpenCopies(state, stillOpen);
    }

    // The wait cursor shows over the whole salvage: moves that do not depend on each other run
    // on several threads, which must not reach the window.
    WaitCursor cursor(ui);
    const MoveFunction move = ShellFileOp;
    WindowPacing pacing(state, ui);
    if (platform::pathExists(JournalPath(state))) {
        // An interrupted move of stored files holds the whole list it leads to: finishing it
        // writes a whole settings file, which is salvaged again if need be.
        Catalogue finished;
        const std::optional<MoveOutcome> moves =
            CompleteInterruptedMoves(state, finished, move, pacing.both());
        if (!moves || !moves->status.ok()) {
            return failed(report, "An interrupted move of stored files, recorded in " +
                                      JournalPath(state) + ", could not be finished (" +
                                      (moves ? moves->status.message() : "") +
                                      ").  Nothing else was changed.");
        }
        report.push_back(
            "An interrupted move of stored files was finished, and the settings "
            "file written anew from its record.");
        return salvage(state, ui, options, std::move(report));
    }

    if (!damaged.empty()) {
        std::string damagedText = "The entries that cannot be read (line ";
        for (size_t n = 0; n < damaged.size(); ++n) {
            damagedText += (n == 0 ? "" : ", ") + std::to_string(damaged[n] + 4);
        }
        report.push_back(damagedText + (cut ? ", the last one cut short" : "") +
                         ") leave the list; " + std::to_string(kept.size()) +
                         " entries are kept in their order.");
    }
    if (damaged.empty() && !cut && unlisted) {
        report.push_back(
            "Every entry can be read, but stored files past the last one are not listed: the "
            "list was cut short; " +
            std::to_string(kept.size()) + " entries are kept in their order.");
    }

    // Every numbered stored file that no whole entry explains goes to the recovered folder;
    // that frees the numbers the kept entries are renumbered to.
    std::set<size_t> explained(kept.begin(), kept.end());
    Recovery recovery;
    for (size_t position = 0; position < kMaxCatalogueEntries; ++position) {
        const std::string stored = StoredPath(state, position);
        if (explained.count(position) != 0 || !platform::pathExists(stored)) {
            continue;
        }
        std::string said;
        recovery.ok = SetStoredFileAside(state, stored, said) && recovery.ok;
        recovery.lines.push_back(said);
    }
    report.insert(report.end(), recovery.lines.begin(), recovery.lines.end());
    if (!recovery.ok) {
        return failed(report, "So the settings file " + path +
                                  " is left as it is; salvage again once the files above can "
                                  "be moved.");
    }

    MovePlan plan;
    plan.password = state.strPassword;
    plan.storageDir = state.strStorageDir;
    plan.extension = state.strExtension;
    plan.catalogue = catalogue;
    plan.moves = RenumberingMoves(state, kept);
    const MoveOutcome outcome = CarryOutMoves(state, plan, move, pacing.both());
    if (!outcome.status.ok()) {
        return failed(report,
                      "The new settings file could not be written, or the stored files "
                      "renumbered (" +
                          outcome.status.message() + "); " + path + " is left as it is.");
    }
    report.push_back("The new settings file " + path + " lists " +
                     std::to_string(catalogue.size()) + " hidden files" +
                     (plan.moves.empty() ? "." : "; their stored files were renumbered to match."));
    return {true, std::move(report)};
}

}  // namespace

SalvageResult SalvageSettings(ProgramState& state, UiServices& ui, const SalvageOptions& options) {
    (void)GetSysDir(state);
    if (ui.previousInstanceRunning(state.strSystemDir)) {
        return failed({}, "Vantory is running (or its lock in " + state.strSystemDir +
                              " cannot be taken).  Close it and salvage again.  " + kUnchanged);
    }
    return salvage(state, ui, options, {});
}

}  // namespace vantory
