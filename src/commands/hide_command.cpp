#include "commands/hide_command.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "commands/salvage.h"
#include "platform/fs_path.h"
#include "store/file_services.h"
#include "store/hide_record.h"
#include "store/leftover_copies.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"

namespace vantory {

namespace {

constexpr const char* kDialogTitle = "Add File";
constexpr const char* kMessageTitle = "Hide File(s)";
// A message lists this many files by name and counts the rest.
constexpr size_t kMessageListLimit = 20;

bool sameFolder(const std::string& a, const std::string& b) {
    std::error_code error;
    return !a.empty() && !b.empty() &&
           std::filesystem::equivalent(platform::fsPath(a), platform::fsPath(b), error) && !error;
}

// Files the program itself depends on: whatever sits in the settings folder (the settings
// file, its move journal, the instance lock) and the stored files of the catalogue. Hiding
// one of them would pull the ground from under the catalogue.
bool isProgramFile(const ProgramState& state, size_t entries, const std::string& path) {
    const std::string folder = platform::parentFolder(path);
    if (sameFolder(folder, state.strSystemDir)) {
        return true;
    }
    if (!sameFolder(folder, state.strStorageDir)) {
        return false;
    }
    const std::string name = platform::baseName(path);
    for (size_t position = 0; position <= entries; ++position) {
        if (name == StoredName(position, state.strExtension)) {
            return true;
        }
    }
    return false;
}

// Why the existence test does not see `path`.
std::string whyNotFound(const std::string& path) {
    switch (platform::pathKind(path)) {
        case platform::PathKind::kNothing:
            return "it is no longer there";
        case platform::PathKind::kLink:
            return "it is a symbolic link; pick the file it points to";
        case platform::PathKind::kFolder:
            return "it is a folder";
        case platform::PathKind::kRegularFile:
        case platform::PathKind::kOther:
            break;
    }
    const std::optional<int> attributes = platform::getAttributes(path);
    if (attributes && (*attributes & (platform::kHidden | platform::kSystem)) != 0) {
        return "it is marked hidden or system";
    }
    return "it is not a regular file";
}

std::string failureText(const std::string& what, const Status& status) {
    return what + " (" + status.message() + ")";
}

void tellUser(const CommandContext& context, const HideReport& report) {
    if (report.notHidden.empty() && report.saveFailure.ok() && report.setAside.empty()) {
        return;
    }
    std::string text;
    if (!report.setAside.empty()) {
        text = WithPaths(
            "Files hidden earlier that the list of hidden files no longer names (the list may "
            "have been cut short) stood under the names needed now:",
            report.setAside);
    }
    if (!report.notHidden.empty()) {
        text += (text.empty() ? "" : "\r\n\r\n") +
                std::string("These files were not hidden; each was left where it was:");
        const size_t listed = std::min(report.notHidden.size(), kMessageListLimit);
        for (size_t i = 0; i < listed; ++i) {
            text += "\r\n" + report.notHidden[i].path + "  (" + report.notHidden[i].reason + ")";
        }
        if (report.notHidden.size() > listed) {
            text += "\r\nand " + std::to_string(report.notHidden.size() - listed) + " more.";
        }
    }
    if (!report.saveFailure.ok()) {
        if (!text.empty()) {
            text += "\r\n\r\n";
        }
        text += "The list of hidden files in " + SettingsPath(context.state) +
                " could not be written (" + report.saveFailure.message() + ").";
    }
    context.ui.messageBox(text, UiServices::kExclamation, kMessageTitle);
}

// Moves a file into storage, never over a file that came under the stored name since it was
// checked. The folders a rename changed go into `folders`, which the caller syncs.
Status moveIntoStorage(CommandContext& context, const std::string& path, const std::string& target,
                       std::vector<std::string>& folders) {
    WaitCursor cursor(context.ui);  // as the shell's move shows it
    if (Status moved = platform::movePathKeeping(path, target, &folders); !moved.ok()) {
        return moved;
    }
    // Stored now; should the attributes refuse to change, it is stored all the same.
    (void)platform::setAttributes(target, platform::kStoredAttributes);
    return Status::success();
}

// The plain files of `pending` move into storage as the next entries. Their entries are
// saved first, so that a crash cannot leave a file there unlisted; a crash before a move
// leaves an entry without its stored file, which the store check at the next start drops,
// with the file still in its place. A move that fails takes its entry and the later ones
// off the list again; the later files are then tried once more.
void movePending(CommandContext& context, std::vector<std::string>& pending, HideReport& report,
                 WindowPacing& pacing) {
    ProgramState& state = context.state;
    Catalogue& catalogue = context.catalogue;
    const auto noteSaveFailure = [&report](const Status& status) {
        if (report.saveFailure.ok()) {
            report.saveFailure = status;
        }
    };
    while (!pending.empty()) {
        const size_t first = catalogue.size();
        for (const std::string& path : pending) {
            catalogue.append({path, false});
        }
        const int16_t progress = state.intProgress;
        const Status saved = saveList(state, catalogue, pacing.slowRun());
        state.intProgress = progress;
        if (!saved.ok()) {
            noteSaveFailure(saved);
            for (const std::string& path : pending) {
                catalogue.removeAt(first);
                report.notHidden.push_back({path, "the list of hidden files could not be written"});
            }
            break;
        }
        std::vector<std::string> folders;
        size_t moved = 0;
        Status failure;
        for (; moved < pending.size(); ++moved) {
            tick(pacing.always());
            failure =
                moveIntoStorage(context, pending[moved], StoredPath(state, first + moved), folders);
            if (!failure.ok()) {
                break;
            }
        }
        for (const std::string& folder : folders) {
            platform::syncFolder(folder);
        }
        report.hidden += moved;
        if (moved == pending.size()) {
            break;
        }
        while (catalogue.size() > first + moved) {
            catalogue.removeAt(catalogue.size() - 1);
        }
        report.notHidden.push_back(
            {pending[moved], failureText("it could not be moved into storage", failure)});
        if (Status undone = saveList(state, catalogue, pacing.slowRun()); !undone.ok()) {
            noteSaveFailure(undone);
        }
        state.intProgress = progress;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(moved) + 1);
    }
    pending.clear();
}

}  // namespace

HideReport AddFiles(CommandContext& context, const std::function<void()>& listChanged) {
    const std::vector<std::string> paths = context.ui.openFiles(kDialogTitle, true);
    return HideSelection(context, paths, listChanged);
}

HideReport HideSelection(CommandContext& context, const std::vector<std::string>& paths,
                         const std::function<void()>& listChanged) {
    HideReport report;
    if (paths.empty()) {
        return report;
    }
    ProgramState& state = context.state;
    UiServices& ui = context.ui;
    Catalogue& catalogue = context.catalogue;
    // Stored files already live in the storage folder; when it is not there (a drive not
    // connected), a new folder in its place would split them from the files hidden now.
    if (!catalogue.empty() && !platform::isFolder(state.strStorageDir)) {
        ui.messageBox("The storage folder " + state.strStorageDir +
                          " cannot be found, so no file was hidden.  The files you picked are "
                          "where they were.",
                      UiServices::kExclamation, "Hide File(s)");
        return report;
    }
    const bool sealed = state.bolEncrypt;
    const auto noteSaveFailure = [&report](const Status& status) {
        if (report.saveFailure.ok()) {
            report.saveFailure = status;
        }
    };

    // The window is served between files whatever Slow Run says; with it on, sealing serves it
    // within a file too.
    WindowPacing pacing(state, ui);
    DeleteLeftoverCopies(state, catalogue);  // they would stand under the names needed now
    const size_t firstNew = catalogue.size();
    // Sealed copies are listed in one save at the end; until then the record tells a start
    // after a crash that they are Vantory's own.
    if (sealed) {
        if (Status s =
                WriteHideRecord(state, {state.strStorageDir, state.strExtension, firstNew, paths});
            !s.ok()) {
            for (const std::string& path : paths) {
                report.notHidden.push_back({path, "the list of hidden files could not be written"});
            }
            report.saveFailure = s;
            tellUser(context, report);
            return report;
        }
    }

    context.busy.OpRunning(true);
    state.intProgressTotal = ProgressCount(paths.size());
    state.intProgress = 1;

    // Files are hidden in batches. Sealed copies are made durable together (CopyBatch) and
    // become entries once committed. Plain files are listed together, then moved one by one,
    // and their folders synced once. A file not hidden is told only after the batch before
    // it is done, so that the report keeps the selection's order.
    CopyBatch batch(state, pacing.slowRun());
    std::vector<std::string> pending;
    const auto commitPending = [&] {
        if (!sealed) {
            movePending(context, pending, report, pacing);
            return;
        }
        const std::vector<Status> results = batch.commit(pacing.always());
        for (size_t k = 0; k < pending.size(); ++k) {
            if (results[k].ok()) {
                catalogue.append({pending[k], true});
                ++report.hidden;
            } else {
                report.notHidden.push_back(
                    {pending[k], failureText("it could not be stored", results[k])});
            }
        }
        pending.clear();
    };
    const auto notHidden = [&](NotHidden file) {
        commitPending();
        report.notHidden.push_back(std::move(file));
    };

    for (size_t i = 0; i < paths.size(); ++i) {
        state.intProgress = ProgressCount(i + 1);
        tick(pacing.always());
        const std::string& path = paths[i];
        const size_t position = catalogue.size() + pending.size();

        if (position >= kMaxCatalogueEntries) {
            commitPending();
            const std::string reason = "the list of hidden files is full; it holds at most " +
                                       std::to_string(kMaxCatalogueEntries) + " files";
            for (size_t rest = i; rest < paths.size(); ++rest) {
                report.notHidden.push_back({paths[rest], reason});
            }
            break;
        }
        if (!FileExists(path)) {
            // The selection stops here, and the files after this one stay where they are.
            notHidden({path, whyNotFound(path)});
            for (size_t rest = i + 1; rest < paths.size(); ++rest) {
                report.notHidden.push_back({paths[rest], "the selection stopped at " + path});
            }
            break;
        }
        if (isProgramFile(state, position, path)) {
            notHidden({path, "it is one of Vantory's own files"});
            continue;
        }

        const std::string target = StoredPath(state, position);
        // A file Vantory stored that its list does not name (a list cut short, a copy left by
        // an interrupted hide) is set aside as the salvage does: its name is needed, and no
        // entry says whose content it is.
        if (LooksStoredByVantory(target)) {
            std::string said;
            (void)SetStoredFileAside(state, target, said);
            report.setAside.push_back(said);
        }
        // Whatever else stands under the stored name is not one of the hidden files (the
        // user's own file in a folder chosen for storage): replacing it could lose it, and
        // keeping it would pass it off as this file. Every later file of the selection would
        // need the same name.
        if (platform::probePath(target).ok()) {
            notHidden({path, "the storage folder already holds a file named " +
                                 StoredName(position, state.strExtension) +
                                 " that Vantory does not list; move or rename that file, then hide "
                                 "this one again"});
            for (size_t rest = i + 1; rest < paths.size(); ++rest) {
                report.notHidden.push_back({paths[rest], "the selection stopped at " + path});
            }
            break;
        }
        if (sealed) {
            // The original stays in place, so the entry can wait for the one save at the end.
            if (Status s = batch.seal(path, target); !s.ok()) {
                notHidden({path, failureText("it could not be stored", s)});
                continue;
            }
            pending.push_back(path);
            if (batch.full()) {
                commitPending();
            }
            continue;
        }

        pending.push_back(path);
        if (pending.size() >= CopyBatch::kFullFiles) {
            commitPending();
        }
    }

    commitPending();
    if (sealed && report.hidden > 0) {
        if (Status saved = saveList(state, catalogue, pacing.slowRun()); !saved.ok()) {
            // Unlisted sealed copies would only take room: the originals are all still in
            // place, so the run is taken back whole.
            noteSaveFailure(saved);
            while (catalogue.size() > firstNew) {
                const size_t last = catalogue.size() - 1;
                (void)RemoveFile(StoredPath(state, last), pacing.always());
                report.notHidden.push_back(
                    {catalogue.at(last).path, "the list of hidden files could not be written"});
                catalogue.removeAt(last);
            }
            std::reverse(report.notHidden.end() - static_cast<std::ptrdiff_t>(report.hidden),
                         report.notHidden.end());
            report.hidden = 0;
        }
    }
    if (sealed) {
        // Every copy is listed now, or taken back. Should the record stay, the next start
        // finds nothing of it to take back and removes it.
        (void)RemoveHideRecord(state);
    }

    if (listChanged) {
        listChanged();
    }
    context.busy.OpRunning(false);
    tellUser(context, report);
    return report;
}

}  // namespace vantory
