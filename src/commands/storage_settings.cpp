#include "commands/storage_settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <vector>

#include "commands/run_command.h"
#include "commands/storage_lock.h"
#include "platform/platform.h"
#include "store/file_services.h"
#include "store/settings_file.h"
#include "store/stored_name.h"

namespace vantory {

namespace {

constexpr const char* kExtensionPrompt =
    "Enter the new storage extension without the '.'(Ex: 'txt' or 'dat'): ";
#if defined(_WIN32)
constexpr const char* kFolderPrompt =
    "Enter the new storage directory (make sure the last character is '\\'): ";
constexpr const char* kNoClosingSeparator =
    "Please make the last character a '\\' for a folder.  Storage directory not changed";
constexpr const char* kNotAbsolute =
    "Please enter a full path that starts with a drive (C:\\) or a share (\\\\server\\share\\)";
constexpr const char* kSeparatorInExtension = "Please do not include a '\\' or '/'";
#else
constexpr const char* kFolderPrompt =
    "Enter the new storage directory (make sure the last character is '/'): ";
constexpr const char* kNoClosingSeparator =
    "Please make the last character a '/' for a folder.  Storage directory not changed";
constexpr const char* kNotAbsolute = "Please enter a full path that starts with '/'";
constexpr const char* kSeparatorInExtension = "Please do not include a '/'";
#endif
constexpr const char* kExtensionKept = ".  Storage extension not changed";
constexpr const char* kFolderKept = ".  Storage directory not changed";

void say(UiServices& ui, const std::string& text, const std::string& title = {}) {
    ui.messageBox(text, UiServices::kPlain, title);
}

// Every entry's stored file to `folder` + its name with `extension`, and the settings that go
// with it. Moves of files that are missing are skipped when the plan is carried out.
MovePlan planFor(const ProgramState& state, const Catalogue& catalogue, const std::string& folder,
                 const std::string& extension) {
    MovePlan plan;
    for (size_t i = 0; i < catalogue.size(); ++i) {
        plan.moves.push_back({StoredPath(state, i), folder + StoredName(i, extension)});
    }
    plan.password = state.strPassword;
    plan.storageDir = folder;
    plan.extension = extension;
    plan.catalogue = catalogue;
    return plan;
}

// A file already at one of the new names would be replaced by a stored file, or taken for
// one: such a change is refused rather than lose or confuse anything.
std::optional<std::string> takenName(const MovePlan& plan) {
    for (const PlannedMove& move : plan.moves) {
        if (platform::pathExists(move.to)) {
            return platform::baseName(move.to);
        }
    }
    return std::nullopt;
}

// Whether `name` is a stored name with `extension`, for any position a list can have.
bool isStoredName(const std::string& name, const std::string& extension) {
    const size_t dot = name.find('.');
    if (dot == 0 || dot > 3 || name.compare(dot + 1, std::string::npos, extension) != 0 ||
        !std::all_of(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(dot),
                     [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const size_t number = std::stoul(name.substr(0, dot));
    return number >= 100 && number - 100 < kMaxCatalogueEntries;
}

// The path of a listed file that a stored name in `folder` (which ends in a separator) with
// `extension` would be: a stored file there would be that file itself, and restoring the one
// would take the other. Folders are compared as spelt and as reached (through a link too).
std::optional<std::string> takenOriginal(const Catalogue& catalogue, const std::string& folder,
                                         const std::string& extension) {
    for (const CatalogueEntry& entry : catalogue.entries()) {
        const std::string name = platform::baseName(entry.path);
        if (!isStoredName(name, extension)) {
            continue;
        }
        const std::string stored = folder + name;
        const std::string itsFolder = platform::parentFolder(entry.path) + platform::kSeparator;
        if (stored == entry.path || platform::sameFile(stored, entry.path) ||
            platform::sameFile(folder, itsFolder)) {
            return entry.path;
        }
    }
    return std::nullopt;
}

std::string takenOriginalText(const std::string& setting, const std::string& path) {
    return "The " + setting + " would give a stored file the path " + path +
           ", which a hidden file is restored to";
}

// The storage folder is not there (a drive not connected) while entries have files in it:
// moving on would leave their files behind, to be dropped by the next start's check.
bool storageMissing(const ProgramState& state, const Catalogue& catalogue) {
    return !catalogue.empty() && !platform::isFolder(state.strStorageDir);
}

std::string missingText(const ProgramState& state) {
    return "The storage folder " + state.strStorageDir +
           " cannot be found, so the stored files cannot be moved";
}

bool anyToMove(const MovePlan& plan) {
    return std::any_of(plan.moves.begin(), plan.moves.end(),
                       [](const PlannedMove& move) { return platform::pathExists(move.from); });
}

// What to tell the user when the moves were not carried out. `setting` is "extension" or
// "directory".
std::string failureText(const ProgramState& state, const MovePlan& plan, const MoveOutcome& outcome,
                        const std::string& setting) {
    std::string text;
    if (outcome.failedMove) {
        const PlannedMove& move = plan.moves[*outcome.failedMove];
        text = "The stored file " + move.from + " could not be moved to " + move.to + " (" +
               outcome.status.message() + ").";
    } else {
        text = "The change could not be recorded (" + outcome.status.message() + ").";
    }
    if (platform::pathExists(JournalPath(state))) {
        return text +
               "  Not every file could be put back; Vantory completes the change before its "
               "next command, or at its next start.";
    }
    return text + "  Every stored file is where it was; the storage " + setting +
           " was not changed.";
}

}  // namespace

bool SetExtensionCommand(CommandContext& context) {
    if (RefuseWhileCopiesOpen(context, "Set Encrypted File Extension")) {
        return false;
    }
    context.state.intProgressTotal = ProgressCount(context.catalogue.size());
    const std::optional<std::string> extension =
        context.ui.inputBox(kExtensionPrompt, "Enter new extension");
    // Cancel: nothing is changed, and nothing needs saying.
    return extension && ChangeExtension(context, *extension, MoveStoredFile);
}

bool ChangeExtension(CommandContext& context, const std::string& extension,
                     const MoveFunction& move) {
    ProgramState& state = context.state;
    UiServices& ui = context.ui;
    if (extension.empty()) {
        say(ui, std::string("No extension was entered") + kExtensionKept);
        return false;
    }
    if (extension[0] == '.') {
        say(ui, "Please do not include the '.'.  Storage extension not changed");
        return false;
    }
    if (std::any_of(extension.begin(), extension.end(), platform::isSeparator)) {
        say(ui, std::string(kSeparatorInExtension) + kExtensionKept);
        return false;
    }
    // The last entry the list can hold has the longest stored name.
    const size_t room =
        platform::kLongestName - StoredName(kMaxCatalogueEntries - 1, std::string()).size();
    if (extension.size() > room) {
        say(ui, "Please enter an extension of at most " + std::to_string(room) +
                    " bytes, so that the stored files' names fit the file system" + kExtensionKept);
        return false;
    }
    if (extension == state.strExtension) {
        say(ui, "The storage extension is already " + extension + kExtensionKept);
        return false;
    }
    if (storageMissing(state, context.catalogue)) {
        say(ui, missingText(state) + kExtensionKept);
        return false;
    }
    const MovePlan plan = planFor(state, context.catalogue, state.strStorageDir, extension);
    if (const auto taken = takenName(plan)) {
        say(ui, "The storage folder already holds a file named " + *taken + kExtensionKept);
        return false;
    }
    if (const auto path = takenOriginal(context.catalogue, state.strStorageDir, extension)) {
        say(ui, takenOriginalText("extension " + extension, *path) + kExtensionKept);
        return false;
    }

    context.busy.OpRunning(true);
    ui.yield();
    const MoveOutcome outcome = CarryOutMoves(state, plan, move, WindowPacing(state, ui).both());
    context.busy.OpRunning(false);
    if (!outcome.status.ok()) {
        say(ui, failureText(state, plan, outcome, "extension"));
        return false;
    }
    say(ui, "New storage extension set to " + state.strExtension, "Storage extension set");
    return true;
}

bool SetStorageDirCommand(CommandContext& context) {
    if (RefuseWhileCopiesOpen(context, "Set Storage Folder")) {
        return false;
    }
    context.state.intProgressTotal = ProgressCount(context.catalogue.size());
    const std::optional<std::string> folder =
        context.ui.inputBox(kFolderPrompt, "Enter new directory");
    return folder && ChangeStorageDir(context, *folder, MoveStoredFile);
}

bool ChangeStorageDir(CommandContext& context, const std::string& folder,
                      const MoveFunction& move) {
    ProgramState& state = context.state;
    UiServices& ui = context.ui;
    if (folder.empty() || !platform::isSeparator(folder.back())) {
        say(ui, kNoClosingSeparator);
        return false;
    }
    if (!platform::isAbsolutePath(folder)) {
        say(ui, std::string(kNotAbsolute) + kFolderKept);
        return false;
    }
    if (folder == state.strStorageDir) {
        say(ui, "The storage directory is already " + folder + kFolderKept);
        return false;
    }
    if (storageMissing(state, context.catalogue)) {
        say(ui, missingText(state) + kFolderKept);
        return false;
    }
    // Another copy's storage folder is refused before anything in it is taken for a stored
    // file; a folder made below is locked once it is there.
    bool inUse = false;
    std::shared_ptr<platform::FolderLock> lock = LockStorageFolder(folder, inUse);
    if (inUse) {
        say(ui, StorageInUseText(folder) + kFolderKept);
        return false;
    }
    const MovePlan plan = planFor(state, context.catalogue, folder, state.strExtension);
    if (const auto taken = takenName(plan)) {
        say(ui, "The folder " + folder + " already holds a file named " + *taken + kFolderKept);
        return false;
    }
    if (const auto path = takenOriginal(context.catalogue, folder, state.strExtension)) {
        say(ui, takenOriginalText("folder " + folder, *path) + kFolderKept);
        return false;
    }

    context.busy.OpRunning(true);
    ui.yield();
    // The folder is made ready first: one new level is created (0700). More levels are
    // created only when there are files to move into them.
    const std::vector<std::string> created = MissingFolders(folder);
    ProgramState trial = state;
    Status ready = SetStorageDir(trial, folder);
    if (ready.error == ENOENT && anyToMove(plan)) {
        ready = platform::makeFolders(platform::withoutClosingSeparators(folder), 0700);
    }
    if (ready.ok() && !platform::isFolder(platform::withoutClosingSeparators(folder))) {
        ready = Status{ENOTDIR};
    }
    if (ready.ok() && !lock->held()) {
        lock = LockStorageFolder(folder, inUse);
    }
    if (!ready.ok() || inUse) {
        lock.reset();  // its file goes before the folders made for it
        RemoveEmptyFolders(created);
        context.busy.OpRunning(false);
        if (inUse) {
            say(ui, StorageInUseText(folder) + kFolderKept);
        } else if (ready.error == ENOENT) {
            say(ui, "Please create only up to one new folder when setting storage directory");
        } else {
            say(ui,
                "The folder " + folder + " cannot be used (" + ready.message() + ")" + kFolderKept);
        }
        return false;
    }

    const MoveOutcome outcome = CarryOutMoves(state, plan, move, WindowPacing(state, ui).both());
    if (!outcome.status.ok()) {
        lock.reset();
        RemoveEmptyFolders(created);
    }
    context.busy.OpRunning(false);
    if (!outcome.status.ok()) {
        say(ui, failureText(state, plan, outcome, "directory"));
        return false;
    }
    state.storageLock = std::move(lock);  // the old folder's lock goes
    say(ui, "New storage directory set to " + state.strStorageDir, "Storage directory set");
    return true;
}

}  // namespace vantory
