#include "main/restore_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "platform/fs_path.h"
#include "platform/platform.h"
#include "store/file_services.h"
#include "store/move_journal.h"
#include "store/sealed_copy.h"
#include "store/stored_name.h"

namespace vantory {

namespace {

constexpr const char* kRestoreTitle = "Restore";

int16_t counter(size_t n) {
    return static_cast<int16_t>(std::min<size_t>(n, INT16_MAX));
}

struct Failure {
    size_t position;
    std::string path;
    std::string reason;
};

// Makes sure the folder that `path` goes into is there. A missing folder is made again when
// the folder above it still exists; `created` tells whether that happened. Returns why the
// file cannot go there, or nothing.
std::optional<std::string> prepareFolder(const std::string& path, bool& created) {
    created = false;
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
    if (!platform::isFolder(platform::parentFolder(folder))) {
        return "its folder " + folder + " no longer exists";
    }
    if (Status made = platform::makeFolder(folder); !made.ok()) {
        return "its folder " + folder + " could not be made again: " + made.message();
    }
    created = true;
    return std::nullopt;
}

// Brings the file of the entry at `position` back to its recorded path. Returns why it did
// not come back, or nothing; the stored copy is then as it was.
std::optional<std::string> restoreEntry(CommandContext& context, size_t position) {
    const CatalogueEntry entry = context.catalogue.at(position);
    const std::string stored = StoredPath(context.state, position);
    if (!platform::pathExists(stored)) {
        return "its stored copy " + stored + " is missing";
    }
    bool created = false;
    if (auto problem = prepareFolder(entry.path, created)) {
        return problem;
    }
    const Status copied =
        decryptFileCopy(context.state, context.ui, stored, entry.path, entry.sealed);
    if (copied.ok()) {
        return std::nullopt;
    }
    if (created) {
        std::error_code ignored;
        // Only if empty.
        std::filesystem::remove(platform::fsPath(platform::parentFolder(entry.path)), ignored);
    }
    return copied.message();
}

// What becomes of the stored copy that a sealed entry leaves behind when it is restored.
enum class Leftovers {
    // As if the entries had left one at a time, each followed by a renumbering of the later
    // stored files: every copy is replaced by the next file moving down, except that of the
    // last entry, which ends under the first number after the remaining entries.
    kAsOneByOne,
    // Each copy stays under its number, unless a remaining entry's file takes it.
    kInPlace,
};

struct Finished {
    RestoreOutcome outcome;
    std::optional<std::string> problem;  // the renumbering could not be carried out
};

// The restored entries leave the catalogue and the stored files of the others are renumbered,
// in one journalled pass that also rewrites the settings file.
Finished finishRestore(CommandContext& context, const std::vector<bool>& restored,
                       const std::vector<Failure>& failures, Leftovers leftovers) {
    ProgramState& state = context.state;
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

    std::set<std::string> taken;  // stored names a move fills
    for (const PlannedMove& move : plan.moves) {
        taken.insert(move.to);
    }
    if (leftovers == Leftovers::kAsOneByOne && count > 0 && restored[count - 1] &&
        catalogue.at(count - 1).sealed && count - 1 != remaining &&
        platform::pathExists(StoredPath(state, count - 1))) {
        plan.moves.push_back({StoredPath(state, count - 1), StoredPath(state, remaining)});
        taken.insert(StoredPath(state, remaining));
    }
    std::vector<std::string> removeBefore;
    std::vector<std::string> removeAfter;
    for (size_t r = 0; r < count; ++r) {
        if (!restored[r] || !catalogue.at(r).sealed) {
            continue;
        }
        if (leftovers == Leftovers::kAsOneByOne && r == count - 1) {
            continue;  // the last entry's copy: moved to, or already under, the first free number
        }
        const std::string copy = StoredPath(state, r);
        if (taken.count(copy) != 0 || !platform::pathExists(copy)) {
            continue;
        }
        if (r < remaining) {
            // No file moves onto it: its remaining entry has no stored file. The copy must
            // not pass for that entry's file, even after a crash.
            removeBefore.push_back(copy);
        } else if (leftovers == Leftovers::kAsOneByOne) {
            removeAfter.push_back(copy);
        }
    }
    for (const std::string& copy : removeBefore) {
        (void)RemoveFile(copy, context.ui);
    }

    Finished finished;
    MoveOutcome moved = CarryOutMoves(state, plan, platform::movePath, context.ui);
    if (!moved.status.ok() && platform::pathExists(JournalPath(state))) {
        // A move could not be undone, so the plan stayed on disk: finish it forwards.
        Catalogue completed;
        const auto again =
            CompleteInterruptedMoves(state, completed, platform::movePath, context.ui);
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
    for (const std::string& copy : removeAfter) {
        (void)RemoveFile(copy, context.ui);
    }
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

void tell(UiServices& ui, const std::vector<Failure>& failures,
          const std::optional<std::string>& problem) {
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
RestoreOutcome restore(CommandContext& context, const std::vector<bool>& chosen,
                       Leftovers leftovers, bool busyPerEntry, const ListChanged& listChanged) {
    ProgramState& state = context.state;
    const size_t count = context.catalogue.size();
    state.intProgress = 1;
    state.intProgressTotal = counter(count);
    std::vector<bool> restored(count, false);
    std::vector<Failure> failures;
    for (size_t p = 0; p < count; ++p) {
        state.intProgress = counter(p + 1);
        if (!chosen[p]) {
            continue;
        }
        if (busyPerEntry) {
            context.busy.OpRunning(true);
        }
        if (auto problem = restoreEntry(context, p)) {
            failures.push_back({p, context.catalogue.at(p).path, *problem});
        } else {
            restored[p] = true;
        }
    }
    Finished finished = finishRestore(context, restored, failures, leftovers);
    // The renumbering counts its moves; the command ends with the entries it examined.
    state.intProgress = counter(count + 1);
    state.intProgressTotal = counter(count);
    context.busy.OpRunning(false);
    finished.outcome.ran = true;
    if (listChanged) {
        listChanged(finished.outcome);
    }
    tell(context.ui, failures, finished.problem);
    return finished.outcome;
}

}  // namespace

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
    return restore(context, chosen, Leftovers::kAsOneByOne, true, listChanged);
}

RestoreOutcome RestoreAll(CommandContext& context, const ListChanged& listChanged) {
    context.busy.OpRunning(true);
    return restore(context, std::vector<bool>(context.catalogue.size(), true), Leftovers::kInPlace,
                   false, listChanged);
}

}  // namespace vantory
