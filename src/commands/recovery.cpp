#include "commands/recovery.h"

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include "commands/change_password.h"
#include "commands/run_command.h"
#include "platform/fs_path.h"
#include "platform/platform.h"
#include "store/file_services.h"
#include "store/hide_record.h"
#include "store/leftover_copies.h"
#include "store/move_journal.h"
#include "store/sealed_copy.h"

namespace vantory {

namespace {

// Why recorded moves of stored files could not be finished, in words.
std::string movesProblem(const Result& result) {
    switch (result.reason) {
        case Reason::kUnreadableRecord:
            return "their record cannot be read";
        case Reason::kFolderMissing:
            return "the folder they are in cannot be found; is the storage folder connected?";
        default:
            return result.status.message();
    }
}

}  // namespace

void FinishInterruptedMoves(CommandContext& context) {
    const auto outcome =
        CompleteInterruptedMoves(context.state, context.catalogue, platform::movePath,
                                 WindowPacing(context.state, context.ui).both());
    if (!outcome || outcome->status.ok()) {
        return;
    }
    context.ui.messageBox(
        "Vantory could not finish moving its stored files after it was interrupted (" +
            movesProblem(outcome->status) + "). The record of the moves is kept in " +
            JournalPath(context.state) +
            " and Vantory tries again before its next command and at its next start; no file "
            "has been removed.",
        UiServices::kExclamation, "Interrupted operation");
}

void FinishInterruptedHide(CommandContext& context) {
    const ProgramState& state = context.state;
    bool readable = true;
    const std::optional<HideRecord> record = ReadHideRecord(state, readable);
    if (!record) {
        return;  // none, or one that cannot be read: then nothing is guessed
    }
    if (!platform::isFolder(state.strStorageDir)) {
        return;  // its copies are away with the folder: kept for a start that finds them
    }
    std::vector<std::string> takenBack;  // the picked files whose copies were deleted
    std::vector<std::string> strangers;  // unlisted stored files that match no picked file
    if (record->storageDir == state.strStorageDir && record->extension == state.strExtension) {
        std::vector<bool> matched(record->picked.size(), false);
        const size_t end = record->firstPosition + record->picked.size();
        for (size_t p = std::max(record->firstPosition, context.catalogue.size()); p < end; ++p) {
            const std::string copy = StoredPath(state, p);
            if (!platform::pathExists(copy)) {
                continue;
            }
            bool ours = false;
            for (size_t i = 0; i < record->picked.size() && !ours; ++i) {
                Status error;
                ours = !matched[i] && platform::isRegularFile(record->picked[i]) &&
                       storedContentIs(copy, record->picked[i], true, state.strPassword, error)
                           .value_or(false);
                if (ours &&
                    RemoveFile(copy, WindowPacing(context.state, context.ui).always()).ok()) {
                    matched[i] = true;
                    takenBack.push_back(record->picked[i]);
                }
            }
            if (!ours) {
                strangers.push_back(copy);
            }
        }
    }
    (void)RemoveHideRecord(state);
    if (!takenBack.empty()) {
        context.ui.messageBox(
            WithPaths(
                "Vantory was stopped while it was hiding files, before it could list them.  The "
                "copies it had made are deleted; each of these files is where it was and is not "
                "hidden:",
                takenBack),
            UiServices::kInformation, "Interrupted operation");
    }
    if (!strangers.empty()) {
        context.ui.messageBox(
            WithPaths(
                "Vantory was stopped while it was hiding files.  These files in the storage folder "
                "match none of the files being hidden (each has changed or moved since), so they "
                "are kept as they are; move them out of the storage folder before hiding more "
                "files:",
                strangers),
            UiServices::kExclamation, "Interrupted operation");
    }
}

bool FinishPendingWork(CommandContext& context) {
    using Result = PendingPasswordChange::Result;
    FinishInterruptedHide(context);
    const std::string journal = JournalPath(context.state);
    const std::string record = PasswordChangeRecordPath(context.state);
    if (!platform::pathExists(journal) && !platform::pathExists(record)) {
        return true;
    }
    // Both are tried, as at the start: the moves first, then the change of password. The
    // busy state keeps the user from starting a command while they run.
    context.busy.OpRunning(true);
    const auto moved =
        CompleteInterruptedMoves(context.state, context.catalogue, platform::movePath,
                                 WindowPacing(context.state, context.ui).both());
    const PendingPasswordChange change = CompletePasswordChange(context);
    context.busy.OpRunning(false);
    std::string problem;
    if (moved && !moved->status.ok()) {
        problem = "the stored files could not all be moved as recorded in " + journal + " (" +
                  movesProblem(moved->status) + ")";
    } else if (change.result == Result::kUnfinished) {
        problem = "the change of password could not be finished: " + change.problem + ".  " +
                  NextStartPasswordNote(change.settingsSaved);
        problem.pop_back();  // the full stop comes after
    } else if (change.result == Result::kNotUndone) {
        problem = change.problem;
    } else if (change.result == Result::kUnreadable) {
        problem = "the record of a change of password, " + record + ", cannot be read";
    }
    if (!problem.empty()) {
        context.ui.messageBox(
            "Vantory did nothing: an earlier operation is not finished, and working on top "
            "of it could lose files.  " +
                problem +
                ".  Vantory tries again when you next choose a command, and at its next start.",
            UiServices::kExclamation, "Error");
        return false;
    }
    std::string done =
        "An operation that Vantory could not finish earlier has now been completed.  Check "
        "the list, then choose the command again.";
    if (change.result == Result::kFinished) {
        done +=
            "  The change of password is complete: from now on, type the new password at "
            "start." +
            change.note;
    }
    context.ui.messageBox(done, UiServices::kInformation, "Interrupted operation");
    return false;
}

namespace {

// Whether `target` names a file that Vantory writes in the storage folder: a stored file
// ("100.txt"), the file of Run Selected File ("tempFile.txt"), or the new file of a change
// of password ("100.txt.vantory-rekey-XXXXXX"). The storage folder may be one the user
// keeps other files in, so nothing else there is taken for Vantory's.
bool writtenInStorage(const std::string& target) {
    return target.rfind("tempFile.", 0) == 0 ||
           (!target.empty() && target[0] >= '0' && target[0] <= '9');
}

// The name a restore beside a newer file came from: "a (restored 2).txt" is "a.txt".
std::string withoutRestoredMark(const std::string& name) {
    constexpr std::string_view kMark = " (restored";
    const size_t mark = name.rfind(kMark);
    const size_t close = mark == std::string::npos ? mark : name.find(')', mark);
    if (close == std::string::npos) {
        return name;
    }
    const std::string number = name.substr(mark + kMark.size(), close - mark - kMark.size());
    if (!number.empty() && (number.size() < 2 || number[0] != ' ' ||
                            number.find_first_not_of("0123456789", 1) != std::string::npos)) {
        return name;
    }
    return name.substr(0, mark) + name.substr(close + 1);
}

}  // namespace

std::vector<std::string> RemoveStrayTemporaries(CommandContext& context) {
    const ProgramState& state = context.state;
    // Each folder with what may stand behind a temporary file's name there.
    std::map<std::string, std::function<bool(const std::string&)>> folders;
    std::map<std::string, std::set<std::string>> restored;  // folder -> entries' names
    for (const CatalogueEntry& entry : context.catalogue.entries()) {
        const std::string folder = platform::parentFolder(entry.path);
        if (!folder.empty()) {
            restored[folder].insert(
                platform::baseName(entry.path).substr(0, platform::kTemporaryNameRoom));
        }
    }
    for (const auto& [folder, names] : restored) {
        folders[folder] = [&names = names](const std::string& target) {
            return names.count(target) != 0 || names.count(withoutRestoredMark(target)) != 0;
        };
    }
    std::string storage = state.strStorageDir;
    while (storage.size() > 1 && platform::isSeparator(storage.back())) {
        storage.pop_back();
    }
    if (!storage.empty()) {
        auto& accepts = folders[storage];
        folders[storage] = [previous = accepts](const std::string& target) {
            return writtenInStorage(target) || (previous && previous(target));
        };
    }
    if (!state.strSystemDir.empty()) {
        folders[state.strSystemDir] = [](const std::string&) { return true; };
    }

    std::vector<std::string> removed;
    for (const auto& [folder, accepts] : folders) {
        std::vector<std::string> doomed;
        std::error_code error;
        for (std::filesystem::directory_iterator it(platform::fsPath(folder), error), end;
             !error && it != end; it.increment(error)) {
            const std::string name = platform::pathString(it->path().filename());
            const std::optional<std::string> target = platform::atomicFileTarget(name);
            std::error_code kind;
            if (target && accepts(*target) && it->is_regular_file(kind) && !it->is_symlink(kind)) {
                doomed.push_back(platform::pathString(it->path()));
            }
        }
        for (const std::string& path : doomed) {
            if (platform::removeFile(path).ok()) {
                removed.push_back(path);
            }
        }
        if (!doomed.empty()) {
            platform::syncFolder(folder);
        }
    }
    if (!removed.empty()) {
        context.ui.messageBox(
            WithPaths(
                "Vantory was stopped while it was writing a file. The unfinished copies it left "
                "have been deleted; no hidden file was affected:",
                removed),
            UiServices::kInformation, "Interrupted operation");
    }
    return removed;
}

void RecoverInterruptedWork(CommandContext& context) {
    FinishInterruptedMoves(context);
    FinishInterruptedPasswordChange(context);
    FinishInterruptedHide(context);
    DeleteLeftoverCopies(context.state, context.catalogue);
    RecoverTemporaryFiles(context);
    (void)RemoveStrayTemporaries(context);
}

}  // namespace vantory
