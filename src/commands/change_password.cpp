#include "commands/change_password.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <set>
#include <string_view>
#include <vector>

#include "cipher/cipher.h"
#include "commands/run_command.h"
#include "commands/startup.h"
#include "store/file_services.h"
#include "store/move_journal.h"
#include "store/parallel.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"

namespace vantory {

namespace {

constexpr const char* kCancelled = "The password was not changed";
constexpr const char* kMismatch =
    "The two passwords entered are not the same.  The password was not changed";

using Rename = PasswordChangeRecord::Rename;
using ChangeRecord = PasswordChangeRecord;

}  // namespace

namespace {

struct Finish {
    Status status;
    std::string failedPath;
    std::string problem;         // what stands in the way, in words, when status is not ok
    bool settingsSaved = false;  // regInfo.lst now names the new password
    std::string note;            // stored files sealed again from their old copies, in words
};

// "the stored file 100.txt of /home/a.doc", or without the entry when none is stored there.
std::string storedFileOf(const ProgramState& state, const Catalogue& catalogue,
                         const std::string& stored) {
    for (size_t position = 0; position < catalogue.size(); ++position) {
        if (StoredPath(state, position) == stored) {
            return "the stored file " + stored + " of " + catalogue.at(position).path;
        }
    }
    return "the stored file " + stored;
}

// Step 4: every new file over its stored file, regInfo.lst with the new password, the record
// away. The password of `state` must already be the new one. A rename that fails does not
// stop the others, and regInfo.lst is saved anyway so that it names the password most files
// now carry. The record goes only once every stored file is known to be under the new
// password: renamed now, found to be the re-sealed file already, or, where its new file has
// disappeared, sealed again from itself (still under the old password). A stored file missing
// along with its new file counts only where others of the change are found beside it, as a
// file lost from the folder; where none is found, the folder is not the one the change was
// made in (a drive not connected), and the record stays for the next command or start.
Finish finishCommitted(ProgramState& state, const Catalogue& catalogue, UiServices& ui,
                       const ChangeRecord& record) {
    Finish finish;
    const auto fail = [&finish](Status status, const std::string& path, std::string problem) {
        if (finish.status.ok()) {
            finish.status = status;
            finish.failedPath = path;
            finish.problem = std::move(problem);
        }
    };
    std::set<std::string> folders;
    std::vector<std::string> missing;
    bool anyFound = false;
    // Renamed by a few threads at once: each rename frees the stored file it replaces, and
    // one after the other, each would wait for the disk on its own.
    const size_t n = record.renames.size();
    std::vector<Status> found(n), renamed(n);
    ForEachAtOnce(
        n,
        [&](size_t i) {
            if ((found[i] = platform::probePath(record.renames[i].from)).ok()) {
                renamed[i] = platform::renamePath(record.renames[i].from, record.renames[i].to);
            }
        },
        WindowPacing(state, ui).always());
    for (size_t i = 0; i < n; ++i) {
        const Rename& rename = record.renames[i];
        const Status from = found[i];
        const Status to = from.ok() ? Status::success() : platform::probePath(rename.to);
        if (from.ok()) {
            anyFound = true;
            if (const Status s = renamed[i]; !s.ok()) {
                fail(s, rename.to,
                     rename.to + " could not be replaced by its re-sealed copy (" + s.message() +
                         ")");
            } else {
                folders.insert(platform::parentFolder(rename.to));
            }
        } else if (from.error != ENOENT) {
            fail(from, rename.from, rename.from + " cannot be reached (" + from.message() + ")");
        } else if (to.ok()) {
            anyFound = true;
            if (!IsRekeyed(rename)) {
                // The same content under the same key seals to the same bytes: sealed again,
                // it is the copy that disappeared, and a later finish finds it re-keyed.
                const std::string file = storedFileOf(state, catalogue, rename.to);
                const Status again =
                    record.oldPassword
                        ? resealFile(rename.to, rename.to, *record.oldPassword, record.password,
                                     WindowPacing(state, ui).slowRun(), platform::kStoredAttributes)
                        : Status{ENOENT};
                if (again.ok()) {
                    finish.note += "  The re-sealed copy of " + file +
                                   " had disappeared, so that file, still sealed under the old "
                                   "password, was sealed under the new password again.";
                } else {
                    fail(again, rename.to,
                         file +
                             " is still sealed under the old password: its re-sealed copy "
                             "has disappeared" +
                             (record.oldPassword
                                  ? ", and sealing it again failed (" + again.message() + ")"
                                  : ""));
                }
            }
        } else if (to.error == ENOENT) {
            missing.push_back(rename.to);
        } else {
            fail(to, rename.to, rename.to + " cannot be reached (" + to.message() + ")");
        }
    }
    ui.yield();
    if (!missing.empty() && !anyFound) {
        fail(Status{ENOENT}, missing.front(),
             "the stored files cannot be found in " + platform::parentFolder(missing.front()) +
                 " (is the storage folder connected?)");
    }
    for (const std::string& folder : folders) {
        platform::syncFolder(folder);
    }
    if (Status s = saveList(state, catalogue, WindowPacing(state, ui).slowRun()); !s.ok()) {
        fail(s, SettingsPath(state),
             SettingsPath(state) + " could not be written (" + s.message() + ")");
    } else {
        finish.settingsSaved = true;
    }
    ui.yield();
    if (finish.status.ok()) {
        RemovePasswordChangeRecord(state);
    }
    return finish;
}

ChangePassOutcome notChanged(Result status, std::optional<size_t> position, std::string path) {
    ChangePassOutcome outcome;
    outcome.status = status;
    outcome.failedPosition = position;
    outcome.failedPath = std::move(path);
    return outcome;
}

}  // namespace

std::string NextStartPasswordNote(bool settingsSaved) {
    if (settingsSaved) {
        return "At the next start, type the new password.";
    }
    return "The settings file still holds the old password: until the change is finished, "
           "type the old password at start.";
}

ChangePassOutcome ChangePass(CommandContext& context, const std::string& strNewPass) {
    ProgramState& state = context.state;
    const Catalogue& catalogue = context.catalogue;
    UiServices& ui = context.ui;
    const std::string old = state.strPassword;

    if (catalogue.size() > kMaxCatalogueEntries) {
        return notChanged(Reason::kListFull, std::nullopt, SettingsPath(state));
    }
    // An unfinished earlier change or move is completed at the next start from its record,
    // which a change now would overwrite or make unreadable.
    for (const std::string& pending : {PasswordChangeRecordPath(state), JournalPath(state)}) {
        if (platform::pathExists(pending)) {
            return notChanged(Reason::kUnfinishedWork, std::nullopt, pending);
        }
    }

    // A storage folder that is not there (a drive not connected) keeps its sealed files under
    // the old password: changing it now would leave them unreadable once the folder is back.
    const bool anySealed = std::any_of(catalogue.entries().begin(), catalogue.entries().end(),
                                       [](const CatalogueEntry& entry) { return entry.sealed; });
    if (anySealed && !platform::isFolder(state.strStorageDir)) {
        return notChanged(Reason::kFolderMissing, std::nullopt, state.strStorageDir);
    }

    // 1. Say which new files may appear, so that a crash from here on can clear them away.
    ChangeRecord record;
    record.storageDir = state.strStorageDir;
    for (size_t i = 0; i < catalogue.size(); ++i) {
        if (catalogue.at(i).sealed) {
            record.names.push_back(StoredName(i, state.strExtension));
        }
    }
    if (Status s = WritePasswordChangeRecord(state, record); !s.ok()) {
        return notChanged(s, std::nullopt, PasswordChangeRecordPath(state));
    }

    // 2. Re-seal into new files; the stored files stay as they are. The new files are written
    // in batches, each flushed and renamed to its reserved name together.
    std::vector<Rename> renames;
    WindowPacing pacing(state, ui);
    CopyBatch batch(state, pacing.slowRun());
    std::vector<size_t> batched;  // the positions of the files in the batch, in order
    const auto abandon = [&](Status status, std::optional<size_t> position, std::string path) {
        batch.discard();
        for (const Rename& rename : renames) {
            (void)platform::removeFile(rename.from);
        }
        platform::syncFolder(state.strStorageDir);
        RemovePasswordChangeRecord(state);
        return notChanged(status, position, std::move(path));
    };
    // The batch's files, committed, are known by their first bytes (the last renames).
    const auto commitBatch = [&]() -> std::optional<ChangePassOutcome> {
        const std::vector<Status> results = batch.commit(pacing.always());
        const size_t first = renames.size() - batched.size();
        for (size_t k = 0; k < batched.size(); ++k) {
            Rename& rename = renames[first + k];
            Status s = results[k];
            if (s.ok()) {
                rename.head = RekeyedHead(rename.from);
                s = rename.head ? s : Status{EIO};
            }
            if (!s.ok()) {
                return abandon(s, batched[k], rename.to);
            }
        }
        batched.clear();
        return std::nullopt;
    };
    state.intProgressTotal = ProgressCount(catalogue.size());
    for (size_t i = 0; i < catalogue.size(); ++i) {
        state.intProgress = ProgressCount(i + 1);
        if (catalogue.at(i).sealed) {
            const std::string stored = StoredPath(state, i);
            if (Status there = platform::probePath(stored); there.error == ENOENT) {
                // Nothing to re-key; the store check deals with the missing file.
            } else if (!there.ok()) {
                return abandon(there, i, stored);
            } else {
                Status s;
                const auto fresh = CreateRekeyedFile(stored, s);
                if (!fresh) {
                    return abandon(s, i, stored);
                }
                renames.push_back({*fresh, stored, {}});
                if (s = batch.reseal(stored, *fresh, old, strNewPass); !s.ok()) {
                    return abandon(s, i, stored);
                }
                batched.push_back(i);
                if (batch.full()) {
                    if (auto failed = commitBatch()) {
                        return *failed;
                    }
                }
            }
        }
        ui.yield();
    }
    if (auto failed = commitBatch()) {
        return *failed;
    }

    // 3. The commit point: from this record on, the change is finished, now or at next start.
    ChangeRecord committed;
    committed.committed = true;
    committed.password = strNewPass;
    committed.renames = renames;
    committed.oldPassword = old;
    if (Status s = WritePasswordChangeRecord(state, committed); !s.ok()) {
        return abandon(s, std::nullopt, PasswordChangeRecordPath(state));
    }
    SetPassword(state, strNewPass);
    ui.yield();

    // 4. The new files take the stored names; regInfo.lst follows.
    const Finish finish = finishCommitted(state, catalogue, ui, committed);
    ChangePassOutcome outcome;
    outcome.result = finish.status.ok() ? ChangePassOutcome::Result::kChanged
                                        : ChangePassOutcome::Result::kUnfinished;
    outcome.status = finish.status;
    outcome.failedPath = finish.failedPath;
    outcome.problem = finish.problem;
    outcome.settingsSaved = finish.settingsSaved;
    outcome.note = finish.note;
    return outcome;
}

void ChangePassCommand(CommandContext& context) {
    UiServices& ui = context.ui;
    if (RefuseWhileCopiesOpen(context, "Change Password")) {
        return;
    }
    // Cancel in either box is no answer at all, not a request for the empty password, which
    // is set only when it is typed (as nothing) twice.
    const std::optional<std::string> first =
        ui.inputBox("Enter the new password: ", "Enter new password");
    const std::optional<std::string> second =
        first ? ui.inputBox("Confirm the new password: ", "Confirm Password") : std::nullopt;
    if (!first || !second) {
        ui.messageBox(kCancelled, UiServices::kInformation, "Password not changed");
        return;
    }
    if (*first != *second) {
        ui.messageBox(kMismatch, UiServices::kInformation, "Error");
        return;
    }
    if (!PasswordCanBeTyped(*first)) {
        ui.messageBox(
            "The password was not changed: it holds a line break, which the password box "
            "cannot take.",
            UiServices::kInformation, "Error");
        return;
    }

    context.busy.OpRunning(true);
    const ChangePassOutcome outcome = ChangePass(context, *first);
    context.busy.OpRunning(false);

    const std::string reason = " (" + outcome.status.message() + ")";
    switch (outcome.result) {
        case ChangePassOutcome::Result::kChanged:
            ui.messageBox(
                outcome.note.empty() ? "Password changed" : "Password changed." + outcome.note,
                UiServices::kInformation, "Password changed");
            return;
        case ChangePassOutcome::Result::kUnfinished:
            ui.messageBox(
                "The new password is set, but the change is not finished: " + outcome.problem +
                    ".  Vantory finishes it before its next command, or at its next "
                    "start.  " +
                    NextStartPasswordNote(outcome.settingsSaved),
                UiServices::kExclamation, "Error");
            return;
        case ChangePassOutcome::Result::kNotChanged:
            break;
    }
    std::string text = "The password was not changed: ";
    if (outcome.failedPosition) {
        const std::string what = NotAFile(outcome.failedPath);
        text += "the stored file " + outcome.failedPath + " of " +
                context.catalogue.at(*outcome.failedPosition).path + " could not be re-sealed" +
                (what.empty() ? reason
                              : " (it is " + what +
                                    ", not a file Vantory stored; it was left "
                                    "as it is)") +
                ".  Every file is still sealed under the old password.";
    } else if (outcome.status.is(Reason::kUnfinishedWork)) {
        text += "an earlier operation is not finished yet (" + outcome.failedPath +
                ").  Vantory finishes it before its next command, or at its next start.";
    } else if (outcome.status.is(Reason::kFolderMissing)) {
        text += "the storage folder " + outcome.failedPath +
                " cannot be found, so the stored files cannot be sealed under the new "
                "password.  Nothing was changed.";
    } else if (outcome.status.is(Reason::kListFull)) {
        text += "the list holds more files than the settings file can record.";
    } else {
        text += outcome.failedPath + " could not be written" + reason + ".  Nothing was changed.";
    }
    ui.messageBox(text, UiServices::kExclamation, "Error");
}

PendingPasswordChange CompletePasswordChange(CommandContext& context) {
    using Result = PendingPasswordChange::Result;
    ProgramState& state = context.state;
    const std::string path = PasswordChangeRecordPath(state);
    if (!platform::pathExists(path)) {
        return {};
    }
    const std::optional<ChangeRecord> record = ReadPasswordChangeRecord(state);
    PendingPasswordChange change;
    if (!record) {
        change.result = Result::kUnreadable;
        return change;
    }
    if (!record->committed) {
        const std::string folder =
            record->storageDir.empty() ? state.strStorageDir : record->storageDir;
        if (!platform::isFolder(folder)) {
            // A drive not connected: its copies are cleared once it is back.
            change.result = Result::kNotUndone;
            change.failedPath = folder;
            change.problem = "the storage folder " + folder +
                             " cannot be found, so the copies that an interrupted change of "
                             "password began there cannot be removed";
            return change;
        }
        RemoveRekeyLeftovers(folder, record->names);
        RemovePasswordChangeRecord(state);
        change.result = Result::kUndone;
        return change;
    }
    change.switched = state.strPassword != record->password;
    SetPassword(state, record->password);
    const Finish finish = finishCommitted(state, context.catalogue, context.ui, *record);
    change.result = finish.status.ok() ? Result::kFinished : Result::kUnfinished;
    change.status = finish.status;
    change.failedPath = finish.failedPath;
    change.problem = finish.problem;
    change.settingsSaved = finish.settingsSaved;
    change.note = finish.note;
    return change;
}

void FinishInterruptedPasswordChange(CommandContext& context) {
    using Result = PendingPasswordChange::Result;
    UiServices& ui = context.ui;
    const PendingPasswordChange change = CompletePasswordChange(context);
    switch (change.result) {
        case Result::kNone:
            return;
        case Result::kUnreadable:
            ui.messageBox("Vantory found a record of an interrupted change of password in " +
                              PasswordChangeRecordPath(context.state) +
                              " that it cannot read.  The record was left alone and no stored "
                              "file has been touched; while it is there, Vantory does not work "
                              "on the stored files.",
                          UiServices::kExclamation, "Interrupted operation");
            return;
        case Result::kNotUndone:
            ui.messageBox(
                "Vantory was stopped while it was changing the password, before the change "
                "was made.  The password has not been changed.  The copies the change began are "
                "in the storage folder " +
                    change.failedPath +
                    ", which cannot be found now; Vantory removes them before its next command, "
                    "or at its next start.",
                UiServices::kExclamation, "Password not changed");
            return;
        case Result::kUndone:
            ui.messageBox(
                "Vantory was stopped while it was changing the password, before the change "
                "was made.  The password has not been changed.",
                UiServices::kInformation, "Password not changed");
            return;
        case Result::kUnfinished:
            ui.messageBox(
                "Vantory was stopped while it was changing the password and could not "
                "finish the change now: " +
                    change.problem +
                    ".  The new password is in use; Vantory tries again before its next "
                    "command and at its next start.  " +
                    NextStartPasswordNote(change.settingsSaved),
                UiServices::kExclamation, "Interrupted operation");
            return;
        case Result::kFinished:
            if (change.switched || !change.note.empty()) {
                ui.messageBox(
                    "Vantory was stopped while it was changing the password.  The change has "
                    "now been completed: from now on the password is the new one." +
                        change.note,
                    UiServices::kInformation, "Password changed");
            }
            return;
    }
}

}  // namespace vantory
