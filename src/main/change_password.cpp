#include "main/change_password.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string_view>
#include <vector>

#include "cipher/cipher.h"
#include "platform/fs_path.h"
#include "store/move_journal.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"

namespace vantory {

namespace {

constexpr std::string_view kHeader = "vantory password change 1";
// New files are named after the stored file they replace: "100.txt.vantory-rekey-XXXXXX".
constexpr std::string_view kInfix = ".vantory-rekey-";
constexpr char kSeparator = '\0';

constexpr const char* kMismatch =
    "The two passwords entered are not the same.  The password was not changed";

struct Rename {
    std::string from;  // the re-sealed new file
    std::string to;    // the stored file it replaces
};

// What the record beside regInfo.lst holds. Its lines are sealed with the settings key, like
// the settings lines: the record must be readable whichever password the user logs in with.
struct ChangeRecord {
    bool committed = false;
    // Preparing: the storage folder and the names of the stored files being re-keyed.
    std::string storageDir;
    std::vector<std::string> names;
    // Committed: the new password and the renames still to make.
    std::string password;
    std::vector<Rename> renames;
};

std::string encode(const ChangeRecord& record) {
    std::string text;
    const auto add = [&text](std::string_view line) {
        text += Seal(line, SettingsKey);
        text += "\r\n";
    };
    add(kHeader);
    if (!record.committed) {
        add("P" + record.storageDir);
        for (const std::string& name : record.names) {
            add("N" + name);
        }
    } else {
        add("C" + record.password);
        for (const Rename& rename : record.renames) {
            add("R" + rename.from + kSeparator + rename.to);
        }
    }
    return text;
}

std::optional<ChangeRecord> decode(std::string_view content) {
    const std::vector<std::string> lines = SplitLines(content);
    if (lines.size() < 2 || Unseal(lines[0], SettingsKey) != kHeader) {
        return std::nullopt;
    }
    ChangeRecord record;
    const std::string phase = Unseal(lines[1], SettingsKey);
    if (phase.empty() || (phase[0] != 'P' && phase[0] != 'C')) {
        return std::nullopt;
    }
    record.committed = phase[0] == 'C';
    (record.committed ? record.password : record.storageDir) = phase.substr(1);
    for (size_t i = 2; i < lines.size(); ++i) {
        const std::string line = Unseal(lines[i], SettingsKey);
        if (!record.committed && !line.empty() && line[0] == 'N') {
            record.names.push_back(line.substr(1));
        } else if (record.committed && !line.empty() && line[0] == 'R') {
            const size_t separator = line.find(kSeparator, 1);
            if (separator == std::string::npos) {
                return std::nullopt;
            }
            record.renames.push_back({line.substr(1, separator - 1), line.substr(separator + 1)});
        } else {
            return std::nullopt;
        }
    }
    return record;
}

Status writeRecord(const ProgramState& state, const ChangeRecord& record) {
    return platform::writeFileAtomically(PasswordChangeRecordPath(state), encode(record));
}

void removeRecord(const ProgramState& state) {
    (void)platform::removeFile(PasswordChangeRecordPath(state));
    platform::syncFolder(state.strSystemDir);
}

// Removes from `folder` every new file, finished or half written, that a change of the
// stored files `names` may have left: "<name>.vantory-rekey-..." and the hidden temporary
// file of one being written, ".<name>.vantory-rekey-...".
void removeLeftovers(const std::string& folder, const std::vector<std::string>& names) {
    const std::set<std::string> stored(names.begin(), names.end());
    std::vector<std::string> doomed;
    std::error_code error;
    for (std::filesystem::directory_iterator it(platform::fsPath(folder), error), end;
         !error && it != end; it.increment(error)) {
        std::string name = platform::pathString(it->path().filename());
        if (!name.empty() && name[0] == '.') {
            name.erase(0, 1);
        }
        const size_t infix = name.find(kInfix);
        if (infix != std::string::npos && stored.count(name.substr(0, infix)) > 0 &&
            it->is_regular_file(error)) {
            doomed.push_back(platform::pathString(it->path()));
        }
    }
    for (const std::string& path : doomed) {
        (void)platform::removeFile(path);
    }
    platform::syncFolder(folder);
}

struct Finish {
    Status status;
    std::string failedPath;
};

// Steps 4: every new file over its stored file, regInfo.lst with the new password, the
// record away. The password of `state` must already be the new one. A rename that fails does
// not stop the others, and regInfo.lst is saved anyway so that it names the password most
// files now carry; the record then stays for the next start.
Finish finishCommitted(ProgramState& state, const Catalogue& catalogue, UiServices& ui,
                       const ChangeRecord& record) {
    Finish finish;
    std::set<std::string> folders;
    for (const Rename& rename : record.renames) {
        if (platform::pathExists(rename.from)) {
            if (Status s = platform::renamePath(rename.from, rename.to); !s.ok()) {
                if (finish.status.ok()) {
                    finish = {s, rename.to};
                }
            } else {
                folders.insert(platform::parentFolder(rename.to));
            }
        }
        ui.yield();
    }
    for (const std::string& folder : folders) {
        platform::syncFolder(folder);
    }
    if (Status s = saveList(state, catalogue, ui); !s.ok() && finish.status.ok()) {
        finish = {s, SettingsPath(state)};
    }
    ui.yield();
    if (finish.status.ok()) {
        removeRecord(state);
    }
    return finish;
}

ChangePassOutcome notChanged(Status status, std::optional<size_t> position, std::string path) {
    return {ChangePassOutcome::Result::kNotChanged, status, position, std::move(path)};
}

}  // namespace

std::string PasswordChangeRecordPath(const ProgramState& state) {
    return state.strSystemDir + platform::kSeparator + "regInfo.rekey";
}

ChangePassOutcome ChangePass(CommandContext& context, const std::string& strNewPass) {
    ProgramState& state = context.state;
    const Catalogue& catalogue = context.catalogue;
    UiServices& ui = context.ui;
    const std::string old = state.strPassword;

    if (catalogue.size() > kMaxCatalogueEntries) {
        return notChanged(Status{EFBIG}, std::nullopt, SettingsPath(state));
    }
    // An unfinished earlier change or move is completed at the next start from its record,
    // which a change now would overwrite or make unreadable.
    for (const std::string& pending : {PasswordChangeRecordPath(state), JournalPath(state)}) {
        if (platform::pathExists(pending)) {
            return notChanged(Status{EBUSY}, std::nullopt, pending);
        }
    }

    // A storage folder that is not there (a drive not connected) keeps its sealed files under
    // the old password: changing it now would leave them unreadable once the folder is back.
    const bool anySealed = std::any_of(catalogue.entries().begin(), catalogue.entries().end(),
                                       [](const CatalogueEntry& entry) { return entry.sealed; });
    if (anySealed && !platform::isFolder(state.strStorageDir)) {
        return notChanged(Status{ENOENT}, std::nullopt, state.strStorageDir);
    }

    // 1. Say which new files may appear, so that a crash from here on can clear them away.
    ChangeRecord record;
    record.storageDir = state.strStorageDir;
    for (size_t i = 0; i < catalogue.size(); ++i) {
        if (catalogue.at(i).sealed) {
            record.names.push_back(StoredName(i, state.strExtension));
        }
    }
    if (Status s = writeRecord(state, record); !s.ok()) {
        return notChanged(s, std::nullopt, PasswordChangeRecordPath(state));
    }

    // 2. Re-seal into new files; the stored files stay as they are.
    std::vector<Rename> renames;
    const auto abandon = [&](Status status, std::optional<size_t> position, std::string path) {
        for (const Rename& rename : renames) {
            (void)platform::removeFile(rename.from);
        }
        platform::syncFolder(state.strStorageDir);
        removeRecord(state);
        return notChanged(status, position, std::move(path));
    };
    SlowRunPacer pacer(state, ui);
    state.intProgressTotal = static_cast<int16_t>(catalogue.size());
    for (size_t i = 0; i < catalogue.size(); ++i) {
        state.intProgress = static_cast<int16_t>(i + 1);
        if (catalogue.at(i).sealed) {
            const std::string stored = StoredPath(state, i);
            if (Status there = platform::probePath(stored); there.error == ENOENT) {
                // Nothing to re-key; the store check deals with the missing file.
            } else if (!there.ok()) {
                return abandon(there, i, stored);
            } else {
                Status s;
                const auto fresh = platform::createUniqueFile(stored + std::string(kInfix), &s);
                if (!fresh) {
                    return abandon(s, i, stored);
                }
                renames.push_back({*fresh, stored});
                s = resealFile(stored, *fresh, old, strNewPass, pacer.get(),
                               platform::kStoredAttributes);
                if (!s.ok()) {
                    return abandon(s, i, stored);
                }
            }
        }
        ui.yield();
    }

    // 3. The commit point: from this record on, the change is finished, now or at next start.
    ChangeRecord committed;
    committed.committed = true;
    committed.password = strNewPass;
    committed.renames = renames;
    if (Status s = writeRecord(state, committed); !s.ok()) {
        return abandon(s, std::nullopt, PasswordChangeRecordPath(state));
    }
    SetPassword(state, strNewPass);
    ui.yield();

    // 4. The new files take the stored names; regInfo.lst follows.
    const Finish finish = finishCommitted(state, catalogue, ui, committed);
    if (!finish.status.ok()) {
        return {ChangePassOutcome::Result::kUnfinished, finish.status, std::nullopt,
                finish.failedPath};
    }
    return {ChangePassOutcome::Result::kChanged, {}, std::nullopt, {}};
}

void ChangePassCommand(CommandContext& context) {
    UiServices& ui = context.ui;
    const std::string first = ui.inputBox("Enter the new password: ", "Enter new password");
    const std::string second = ui.inputBox("Confirm the new password: ", "Confirm Password");
    if (first != second) {
        ui.messageBox(kMismatch, UiServices::kInformation, "Error");
        return;
    }

    context.busy.OpRunning(true);
    const ChangePassOutcome outcome = ChangePass(context, first);
    context.busy.OpRunning(false);

    const std::string reason = " (" + outcome.status.message() + ")";
    switch (outcome.result) {
        case ChangePassOutcome::Result::kChanged:
            ui.messageBox("Password changed", UiServices::kInformation, "Password changed");
            return;
        case ChangePassOutcome::Result::kUnfinished:
            ui.messageBox(
                "The new password is set, but " + outcome.failedPath + " could not be written" +
                    reason +
                    ".  Vantory finishes the change before its next command, or at its next start.",
                UiServices::kExclamation, "Error");
            return;
        case ChangePassOutcome::Result::kNotChanged:
            break;
    }
    std::string text = "The password was not changed: ";
    if (outcome.failedPosition) {
        text += "the stored file " + outcome.failedPath + " of " +
                context.catalogue.at(*outcome.failedPosition).path + " could not be re-sealed" +
                reason + ".  Every file is still sealed under the old password.";
    } else if (outcome.status.error == EBUSY) {
        text += "an earlier operation is not finished yet (" + outcome.failedPath +
                ").  Vantory finishes it before its next command, or at its next start.";
    } else if (outcome.status.error == ENOENT &&
               outcome.failedPath == context.state.strStorageDir) {
        text += "the storage folder " + outcome.failedPath +
                " cannot be found, so the stored files cannot be sealed under the new "
                "password.  Nothing was changed.";
    } else if (outcome.status.error == EFBIG) {
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
    const auto content = platform::readWholeFile(path);
    const std::optional<ChangeRecord> record =
        content ? decode(*content) : std::optional<ChangeRecord>();
    if (!record) {
        return {Result::kUnreadable, false, {}, {}};
    }
    if (!record->committed) {
        removeLeftovers(record->storageDir.empty() ? state.strStorageDir : record->storageDir,
                        record->names);
        removeRecord(state);
        return {Result::kUndone, false, {}, {}};
    }
    const bool switched = state.strPassword != record->password;
    SetPassword(state, record->password);
    const Finish finish = finishCommitted(state, context.catalogue, context.ui, *record);
    if (!finish.status.ok()) {
        return {Result::kUnfinished, switched, finish.status, finish.failedPath};
    }
    return {Result::kFinished, switched, {}, {}};
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
                    change.failedPath + " could not be written (" + change.status.message() +
                    ").  The new password is in use; Vantory tries again before its next "
                    "command and at its next start.",
                UiServices::kExclamation, "Interrupted operation");
            return;
        case Result::kFinished:
            if (change.switched) {
                ui.messageBox(
                    "Vantory was stopped while it was changing the password.  The change has "
                    "now been completed: from now on the password is the new one.",
                    UiServices::kInformation, "Password changed");
            }
            return;
    }
}

}  // namespace vantory
