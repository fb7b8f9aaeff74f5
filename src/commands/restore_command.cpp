#include "commands/restore_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iterator>
#include <optional>

#include "commands/run_command.h"
#include "platform/platform.h"
#include "store/file_services.h"
#include "store/move_journal.h"
#include "store/sealed_copy.h"
#include "store/stored_name.h"

namespace vantory {

namespace {

constexpr const char* kRestoreTitle = "Restore";

struct Failure {
    size_t position;
    std::string path;
    std::string reason;
};

// Makes sure the folder that `path` goes into is there. Missing folders are made again, the
// whole chain, open to the user alone; `created` gets them, made or not, for the command to
// remove those that stay empty. Returns why the file cannot go there, or nothing.
std::optional<std::string> prepareFolder(const std::string& path,
                                         std::vector<std::string>& created) {
    const std::string folder = platform::parentFolder(path);
    if (folder.empty()) {
        return std::string("the path names no folder");
    }
    if (platform::isFolder(folder)) {
        return std::nullopt;
    }
    const Status probe = platform::probePath(folder);
    if (probe.ok()) {
        return folder + " is not a folder";
    }
    if (probe.error != ENOENT && probe.error != ENOTDIR) {
        return "its folder " + folder + " cannot be reached: " + probe.message();
    }
    const std::vector<std::string> missing = MissingFolders(folder);
    created.insert(created.end(), missing.begin(), missing.end());
    if (Status made = platform::makeFolders(folder, 0700); !made.ok()) {
        return "its folder " + folder + " could not be made again: " + made.message();
    }
    return std::nullopt;
}

struct Restored {
    std::optional<std::string> problem = {};  // why the file did not come back
    std::string beside = {};                  // where it came back instead of its own path
    bool batched = false;                     // it comes back when the batch is committed
    bool inPlace = false;                     // its stored file is the file at its path
};

// Brings the file of the entry at `position` back to its recorded path. A file found there
// is never replaced: when it holds the entry's content the entry counts as restored, else the
// content goes beside it. When the file does not come back the stored copy is as it was. A
// sealed entry's file is unsealed into `batch`, to come back when it is committed; a plain
// one is moved, and the folders the move changed go into `unsynced`, to be synced once for
// all the files before the list forgets their entries.
Restored restoreEntry(CommandContext& context, size_t position, CopyBatch& batch,
                      std::vector<std::string>& unsynced, std::vector<std::string>& created) {
    const CatalogueEntry entry = context.catalogue.at(position);
    const std::string stored = StoredPath(context.state, position);
    if (std::string problem = StoredFileProblem(stored); !problem.empty()) {
        return {.problem = problem};
    }
    // The stored name leads to the entry's own path (a storage folder or extension set onto
    // it, a folder reached through a link): a plain file is back already, and it is the only
    // copy of its content; it gets back its own attributes, as a moved one does. (A sealed one
    // is unsealed beside it as usual.) Should the list keep it after a crash, the next start
    // hides it again.
    if (!entry.sealed && platform::sameFile(stored, entry.path)) {
        if (Status cleared = platform::setAttributes(entry.path, platform::kNormal);
            !cleared.ok()) {
            return {.problem = "it is at its path, but its attributes could not be cleared (" +
                               cleared.message() + ")"};
        }
        return {.inPlace = true};
    }
    if (auto problem = prepareFolder(entry.path, created)) {
        return {.problem = problem};
    }
    // The first free name, found by trying, so that a file that arrives meanwhile is kept
    // too. A name that already holds the content (restored there before) ends the search.
    std::string target;
    Status copied{EEXIST};
    for (int n = 0; n <= kBesideNames && copied.error == EEXIST; ++n) {
        target = n == 0 ? entry.path : RestoredBesideName(entry.path, n);
        if (platform::isSymbolicLink(target)) {
            continue;  // never compared through: its target is not the user's file here
        }
        if (batch.holds(target)) {
            continue;  // another entry's file is to come back there at the commit
        }
        if (platform::probePath(target).ok()) {
            Status error;
            const std::optional<bool> same =
                storedContentIs(stored, target, entry.sealed, context.state.strPassword, error);
            if (!same && n == 0) {
                return {.problem =
                            "a file stands at its path, and the two could not be "
                            "compared (" +
                            error.message() + ")"};
            }
            if (same.value_or(false)) {
                return {};  // the content is back already: nothing is written
            }
            continue;
        }
        if (entry.sealed) {
            copied = batch.unseal(stored, target);
        } else {
            WaitCursor cursor(context.ui);  // as the shell's move shows it
            copied = decryptFileCopy(context.state, stored, target, false,
                                     platform::Existing::kKeep, &unsynced);
        }
    }
    if (copied.ok()) {
        return {.beside = target == entry.path ? std::string() : target, .batched = entry.sealed};
    }
    return {.problem = copied.message()};
}

struct Finished {
    RestoreOutcome outcome;
    std::optional<std::string> problem;  // the renumbering could not be carried out
};

// The restored entries leave the catalogue and the stored files of the others are renumbered,
// in one journalled pass that also rewrites the settings file. What restored entries leave in
// storage (a sealed copy, a plain file whose content was already back) is deleted: before the
// save where a remaining entry's number would take it for its own file, else after it. A file
// restored in place is no copy: it stays, and no move reaches its name (see keepInPlaceNames).
Finished finishRestore(CommandContext& context, const std::vector<bool>& restored,
                       const std::vector<bool>& inPlace, const std::vector<Failure>& failures) {
    ProgramState& state = context.state;
    WindowPacing pacing(state, context.ui);
    const Catalogue& catalogue = context.catalogue;
    const size_t count = catalogue.size();

    MovePlan plan;
    plan.password = state.strPassword;
    plan.storageDir = state.strStorageDir;
    plan.extension = state.strExtension;
    std::vector<size_t> kept;
    for (size_t p = 0; p < count; ++p) {
        if (!restored[p]) {
            kept.push_back(p);
            plan.catalogue.append(catalogue.at(p));
        }
    }
    const size_t remaining = kept.size();
    plan.moves = RenumberingMoves(state, kept);

    for (size_t r = 0; r < count; ++r) {
        const std::string copy = StoredPath(state, r);
        if (!restored[r] || inPlace[r] || !platform::pathExists(copy)) {
            continue;
        }
        if (r < remaining) {
            // A remaining entry's number: a file moves onto it, and moves never replace a
            // file, or its entry has no stored file, and the copy must not pass for that
            // entry's file, even after a crash.
            (void)RemoveFile(copy, pacing.always());
        } else {
            plan.removals.push_back(copy);
        }
    }

    Finished finished;
    MoveOutcome moved = CarryOutMoves(state, plan, MoveStoredFile, pacing.both());
    if (!moved.status.ok() && platform::pathExists(JournalPath(state))) {
        // A move could not be undone, so the plan stayed on disk: finish it forwards.
        Catalogue completed;
        const auto again =
            CompleteInterruptedMoves(state, completed, platform::movePath, pacing.both());
        if (again && again->status.ok()) {
            moved = *again;
        } else {
            context.catalogue = plan.catalogue;
            finished.problem =
                "The files were put back, but the stored files of the remaining entries could "
                "not all be renumbered (" +
                moved.status.message() +
                "). Vantory finishes the renumbering before its next command, or at its next "
                "start; no stored file has been lost.";
            return finished;
        }
    }
    if (!moved.status.ok()) {
        finished.problem =
            "The files were put back, but the stored files of the remaining entries could not "
            "be renumbered (" +
            moved.status.message() +
            "), so the list is left as it was. No stored file has been lost.";
        return finished;
    }

    context.catalogue = plan.catalogue;
    size_t failure = 0;
    for (size_t n = 0; n < remaining; ++n) {
        while (failure < failures.size() && failures[failure].position < kept[n]) {
            ++failure;
        }
        if (failure < failures.size() && failures[failure].position == kept[n]) {
            finished.outcome.stillHidden.push_back(n);
        }
    }
    return finished;
}

struct RestoredBeside {
    std::string path;    // where the file was hidden from, which another file now holds
    std::string beside;  // where it came back
};

// A plain file restored in place keeps its stored name. It can leave the list only when no
// remaining entry is renumbered onto that name, which takes the names from 100 up: an entry
// further down than the entries left can, the others are hidden again until those after them
// are restored. (Once one can, every one after it can.)
void keepInPlaceNames(const Catalogue& catalogue, std::vector<bool>& restored,
                      std::vector<bool>& inPlace, std::vector<Failure>& failures) {
    size_t remaining = static_cast<size_t>(std::ranges::count(restored, false));
    for (size_t p = 0; p < restored.size() && p < remaining; ++p) {
        if (inPlace[p] && restored[p]) {
            restored[p] = inPlace[p] = false;
            ++remaining;
            (void)platform::setAttributes(catalogue.at(p).path, platform::kStoredAttributes);
            failures.push_back({p, catalogue.at(p).path,
                                "its stored file is the file at its path itself, and a file "
                                "listed after it needs that name; restore the files listed "
                                "after it first"});
        }
    }
    std::ranges::sort(failures, {}, &Failure::position);
}

void tell(UiServices& ui, const std::vector<Failure>& failures,
          const std::vector<RestoredBeside>& besides, const std::vector<std::string>& madeAgain,
          const std::optional<std::string>& problem) {
    if (!madeAgain.empty()) {
        std::string text = "Folders that no longer existed were made again, open to you alone:\r\n";
        for (const std::string& folder : madeAgain) {
            text += "\r\n" + folder;
        }
        ui.messageBox(text, UiServices::kInformation, kRestoreTitle);
    }
    if (!besides.empty()) {
        std::string text =
            besides.size() == 1
                ? "Another file now stands where this file was hidden from, so it was restored "
                  "beside it; nothing was replaced:\r\n"
                : "Other files now stand where these files were hidden from, so each was "
                  "restored beside it; nothing was replaced:\r\n";
        for (const RestoredBeside& pair : besides) {
            text += "\r\n" + pair.path + "  restored as  " + pair.beside;
        }
        ui.messageBox(text, UiServices::kInformation, kRestoreTitle);
    }
    if (!failures.empty()) {
        std::string text = failures.size() == 1
                               ? "This file could not be put back and is still hidden:\r\n"
                               : "These files could not be put back and are still hidden:\r\n";
        for (const Failure& failure : failures) {
            text += "\r\n" + failure.path + ": " + failure.reason;
        }
        ui.messageBox(text, UiServices::kExclamation, kRestoreTitle);
    }
    if (problem) {
        ui.messageBox(*problem, UiServices::kExclamation, kRestoreTitle);
    }
}

// Restores the chosen entries in catalogue order, counting every entry examined.
RestoreOutcome restore(CommandContext& context, const std::vector<bool>& chosen, bool busyPerEntry,
                       const ListChanged& listChanged) {
    if (RefuseWhileCopiesOpen(context, kRestoreTitle)) {
        context.busy.OpRunning(false);
        return {};
    }
    ProgramState& state = context.state;
    const size_t count = context.catalogue.size();
    state.intProgress = 1;
    state.intProgressTotal = ProgressCount(count);
    std::vector<bool> restored(count, false);
    std::vector<bool> inPlace(count, false);
    std::vector<std::string> created;  // folders made again
    std::vector<Failure> failures;     // ascending positions
    std::vector<RestoredBeside> besides;
    const auto done = [&](size_t p, const Restored& result) {
        if (result.problem) {
            failures.push_back({p, context.catalogue.at(p).path, *result.problem});
            return;
        }
        restored[p] = true;
        inPlace[p] = result.inPlace;
        if (!result.beside.empty()) {
            besides.push_back({context.catalogue.at(p).path, result.beside});
        }
    };
    // Unsealed files are made durable in batches; a failure is noted only once the batch
    // before it is committed, so that the failures stay in catalogue order.
    WindowPacing pacing(state, context.ui);
    CopyBatch batch(state, pacing.slowRun());
    std::vector<std::string> unsynced;  // folders of the plain files moved back
    std::vector<std::pair<size_t, Restored>> pending;
    const auto commitPending = [&] {
        const std::vector<Status> results = batch.commit(pacing.always());
        for (size_t k = 0; k < pending.size(); ++k) {
            auto& [p, result] = pending[k];
            if (!results[k].ok()) {
                result = {.problem = results[k].message()};
            }
            done(p, result);
        }
        pending.clear();
    };
    for (size_t p = 0; p < count; ++p) {
        state.intProgress = ProgressCount(p + 1);
        tick(pacing.always());
        if (!chosen[p]) {
            continue;
        }
        if (busyPerEntry) {
            context.busy.OpRunning(true);
        }
        const Restored result = restoreEntry(context, p, batch, unsynced, created);
        if (result.batched) {
            pending.emplace_back(p, result);
            if (batch.full()) {
                commitPending();
            }
            continue;
        }
        if (result.problem) {
            commitPending();
        }
        done(p, result);
    }
    commitPending();
    // The moves are made durable before the list forgets their entries.
    for (const std::string& folder : unsynced) {
        platform::syncFolder(folder);
        tick(pacing.always());
    }
    // What was made for files that did not come back goes again.
    RemoveEmptyFolders(created);
    std::vector<std::string> madeAgain;
    std::ranges::copy_if(created, std::back_inserter(madeAgain), platform::isFolder);
    std::ranges::sort(madeAgain);
    keepInPlaceNames(context.catalogue, restored, inPlace, failures);
    Finished finished = finishRestore(context, restored, inPlace, failures);
    if (finished.problem && context.catalogue.size() == count) {
        for (size_t p = 0; p < count; ++p) {  // still listed, so still hidden
            if (inPlace[p]) {
                const std::string& path = context.catalogue.at(p).path;
                (void)platform::setAttributes(path, platform::kStoredAttributes);
                failures.push_back({p, path, "the list of hidden files could not be changed"});
            }
        }
    }
    // The renumbering counts its moves; the command ends with the entries it examined.
    state.intProgress = ProgressCount(count + 1);
    state.intProgressTotal = ProgressCount(count);
    context.busy.OpRunning(false);
    finished.outcome.ran = true;
    if (listChanged) {
        listChanged(finished.outcome);
    }
    tell(context.ui, failures, besides, madeAgain, finished.problem);
    return finished.outcome;
}

}  // namespace

std::string RestoredBesideName(const std::string& path, int n) {
    const std::string name = platform::baseName(path);
    const size_t dot = name.find_last_of('.');
    const size_t stem = dot == std::string::npos || dot == 0 ? name.size() : dot;
    const std::string mark = n == 1 ? " (restored)" : " (restored " + std::to_string(n) + ")";
    return path.substr(0, path.size() - name.size()) + name.substr(0, stem) + mark +
           name.substr(stem);
}

RestoreOutcome RestoreSelected(CommandContext& context, int current,
                               const std::vector<size_t>& selected,
                               const ListChanged& listChanged) {
    const size_t count = context.catalogue.size();
    if (current < 0 || static_cast<size_t>(current) >= count) {
        return {};
    }
    std::vector<bool> chosen(count, false);
    for (const size_t position : selected) {
        if (position < count) {
            chosen[position] = true;
        }
    }
    return restore(context, chosen, true, listChanged);
}

RestoreOutcome RestoreAll(CommandContext& context, const ListChanged& listChanged) {
    context.busy.OpRunning(true);
    return restore(context, std::vector<bool>(context.catalogue.size(), true), false, listChanged);
}

}  // namespace vantory
