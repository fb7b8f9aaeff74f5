#include "store/move_journal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <set>

#include "cipher/cipher.h"
#include "platform/progress_file.h"
#include "store/leftover_copies.h"
#include "store/parallel.h"

namespace vantory {

namespace {

// A plan of the first kind counts its moves durably, one by one, and may replace files; one of
// the second kind counts none and never replaces a file (see runMoves).
constexpr std::string_view kCountedHeader = "vantory moves 1";
constexpr std::string_view kHeader = "vantory moves 2";
constexpr char kSeparator = '\0';

std::string progressPath(const ProgramState& state) {
    return JournalPath(state) + ".done";
}

std::string joined(std::initializer_list<std::string_view> parts) {
    std::string out;
    bool first = true;
    for (const std::string_view part : parts) {
        if (!first) {
            out += kSeparator;
        }
        out += part;
        first = false;
    }
    return out;
}

std::vector<std::string> split(std::string_view text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(kSeparator, start);
        parts.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// A record: the letter of its kind, then its text. (Built by appending: GCC 12 warns wrongly
// about "S" + text in an optimised build.)
std::string record(char kind, std::string_view text) {
    std::string line(1, kind);
    line += text;
    return line;
}

}  // namespace

// One sealed line per record: the header, the settings, each move, each catalogue entry.
std::string EncodeJournal(const MovePlan& plan, std::string_view password, Pacer* pacer) {
    std::string text;
    const auto add = [&](const std::string& line) {
        text += Seal(line, password, pacer);
        text += "\r\n";
    };
    add(std::string(plan.counted ? kCountedHeader : kHeader));
    add(record('S', joined({plan.password, plan.storageDir, plan.extension})));
    for (const PlannedMove& move : plan.moves) {
        add(record('M', joined({move.from, move.to})));
    }
    for (const CatalogueEntry& entry : plan.catalogue.entries()) {
        add(record('E', (entry.sealed ? "1" : "0") + entry.path));
    }
    for (const std::string& path : plan.removals) {
        add(record('R', path));
    }
    return text;
}

std::optional<MovePlan> DecodeJournal(std::string_view content, std::string_view password,
                                      Pacer* pacer) {
    const std::vector<std::string> lines = SplitLines(content);
    const std::string header = lines.empty() ? std::string() : Unseal(lines[0], password, pacer);
    if (header != kHeader && header != kCountedHeader) {
        return std::nullopt;
    }
    MovePlan plan;
    plan.counted = header == kCountedHeader;
    bool haveSettings = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string record = Unseal(lines[i], password, pacer);
        if (record.empty()) {
            return std::nullopt;
        }
        const std::string_view body = std::string_view(record).substr(1);
        if (record[0] == 'S') {
            const auto parts = split(body);
            if (parts.size() != 3) {
                return std::nullopt;
            }
            plan.password = parts[0];
            plan.storageDir = parts[1];
            plan.extension = parts[2];
            haveSettings = true;
        } else if (record[0] == 'M') {
            const auto parts = split(body);
            if (parts.size() != 2) {
                return std::nullopt;
            }
            plan.moves.push_back({parts[0], parts[1]});
        } else if (record[0] == 'E' && !body.empty()) {
            plan.catalogue.append({std::string(body.substr(1)), body[0] == '1'});
        } else if (record[0] == 'R' && !body.empty()) {
            plan.removals.emplace_back(body);
        } else {
            return std::nullopt;
        }
    }
    if (!haveSettings) {
        return std::nullopt;
    }
    return plan;
}

namespace {

Status writeJournal(const ProgramState& state, const MovePlan& plan, Pacer* pacer) {
    return platform::writeFileAtomically(JournalPath(state),
                                         EncodeJournal(plan, state.strPassword, pacer));
}

std::optional<MovePlan> readJournal(const ProgramState& state, Pacer* pacer) {
    const auto content = platform::readWholeFile(JournalPath(state));
    if (!content) {
        return std::nullopt;
    }
    return DecodeJournal(*content, state.strPassword, pacer);
}

// The count of a counted plan goes only once its plan has gone: a plan found without its count
// at the next start is carried out from its first move again.
void removeJournal(const ProgramState& state, platform::ProgressFile& progress) {
    if (!platform::removeFile(JournalPath(state)).ok() &&
        platform::pathExists(JournalPath(state))) {
        return;  // finished again at the next start, where the moves are found made
    }
    platform::syncFolder(state.strSystemDir);
    (void)progress.remove();
    platform::syncFolder(state.strSystemDir);
}

// The folders that the moves of a plan change, each once.
class ChangedFolders {
  public:
    void note(const PlannedMove& move) {
        for (const std::string& path : {move.from, move.to}) {
            std::string folder = platform::parentFolder(path);
            if (std::find(folders_.begin(), folders_.end(), folder) == folders_.end()) {
                folders_.push_back(std::move(folder));
            }
        }
    }
    // Makes the renames made so far durable.
    void sync(Pacer* pacer) {
        for (const std::string& folder : folders_) {
            platform::syncFolder(folder);
            tick(pacer);
        }
    }

  private:
    std::vector<std::string> folders_;
};

// Moves back the moves in `made` (ascending), the newest first. A folder moved from that
// is gone (a drive not connected) is not made again: its other files are away with it, and a
// new folder in its place would split them from the ones moved back. Returns false when a
// move cannot be undone; the plan then stays on disk, to be completed forwards.
//
// A counted plan uncounts each undone move before the next, so a crash here is completed
// forwards at the next start. An uncounted one needs no count: its moves are found made or
// not on disk, as resumption() finds them.
bool undoMoves(const MovePlan& plan, const std::vector<size_t>& made,
               platform::ProgressFile& progress, const MoveFunction& move,
               ChangedFolders& changed) {
    for (auto newest = made.rbegin(); newest != made.rend(); ++newest) {
        const size_t k = *newest;
        const PlannedMove& done = plan.moves[k];
        if (platform::pathExists(done.to) &&
            (!platform::isFolder(platform::parentFolder(done.from)) ||
             !move(done.to, done.from).ok())) {
            return false;
        }
        if (plan.counted) {
            platform::syncFolder(platform::parentFolder(done.from));
            if (!progress.setCount(k).ok()) {
                return false;
            }
        }
    }
    changed.sync(nullptr);
    return true;
}

// The first `count` moves.
std::vector<size_t> firstMoves(size_t count) {
    std::vector<size_t> moves(count);
    for (size_t k = 0; k < count; ++k) {
        moves[k] = k;
    }
    return moves;
}

// Whether a move of the plan fills the source of another (a renumbering). Its moves are then
// made one after the other, in order; else each stands on its own.
bool chained(const MovePlan& plan) {
    std::set<std::string> destinations;
    for (const PlannedMove& move : plan.moves) {
        destinations.insert(move.to);
    }
    return std::any_of(plan.moves.begin(), plan.moves.end(),
                       [&](const PlannedMove& move) { return destinations.count(move.from) != 0; });
}

// What is left of a plan: the moves still to make, in order, and the copies to another file
// system that were made but whose sources are still there, to be made again.
//
// A counted plan goes on at its count: every move before it was made, and at most the one it
// names may have been made since. An uncounted plan never replaces a file, so a move whose
// destination holds a file has been made. When its moves are chained, the moves made are
// always the first ones, and it goes on at the first move whose destination is free; else
// each move is made or not on its own.
struct Resumption {
    std::vector<size_t> pending;
    std::vector<size_t> unfinishedCopies;
};

Resumption resumption(const MovePlan& plan, platform::ProgressFile& progress) {
    Resumption resume;
    size_t next = plan.counted ? progress.count() : 0;
    const bool inOrder = chained(plan);
    for (; !plan.counted && next < plan.moves.size(); ++next) {
        const PlannedMove& step = plan.moves[next];
        const bool sourceFolder = platform::isFolder(platform::parentFolder(step.from));
        if (platform::pathExists(step.to) && sourceFolder) {
            if (!inOrder && platform::pathExists(step.from)) {
                resume.unfinishedCopies.push_back(next);
            }
        } else if (platform::pathExists(step.from) || !sourceFolder) {
            // Made or not, with its source's folder gone (a drive not connected) a copy may
            // have stayed there, and the plan waits for the folder.
            if (inOrder) {
                break;  // this move and all after it are still to make
            }
            resume.pending.push_back(next);
        }
        // Else it was never made, its file having gone: nothing to do either way.
    }
    for (; next < plan.moves.size(); ++next) {
        resume.pending.push_back(next);
    }
    return resume;
}

// Makes one move of an uncounted plan, or of a counted one, which may replace a file. Where
// the source's folder is gone (a drive not connected), nothing can be said of the file:
// counted as made, the plan could leave the file unlisted there, or a copy of it beside its
// new place; `folderGone` is then set.
Status makeMove(const MovePlan& plan, const PlannedMove& step, const MoveFunction& move,
                bool& folderGone) {
    if (platform::pathExists(step.from)) {
        return !plan.counted && platform::pathExists(step.to) ? Status{EEXIST}
                                                              : move(step.from, step.to);
    }
    // A source that is gone was moved before a crash could count it (or its file vanished):
    // either way there is nothing to move.
    folderGone = !platform::isFolder(platform::parentFolder(step.from));
    return Status::success();
}

// Makes the pending moves of a plan whose moves each stand on their own by a few threads at
// once: a move to another file system deletes its source, and deletions one after the other
// would each wait for the disk. A move that fails leaves the others made, then undone.
MoveOutcome runAtOnce(ProgramState& state, const MovePlan& plan, const std::vector<size_t>& pending,
                      platform::ProgressFile& progress, const MoveFunction& move, Pacing pacing,
                      ChangedFolders& changed) {
    for (const size_t i : pending) {
        changed.note(plan.moves[i]);
    }
    std::vector<Status> results(pending.size());
    std::vector<char> folderGone(pending.size());
    std::atomic<size_t> done{0};
    Pacer shown(
        [&] {
            state.intProgress = ProgressCount(done + 1);
            tick(pacing.slowRun);
            tick(pacing.always);
        },
        std::chrono::microseconds(0));
    ForEachAtOnce(
        pending.size(),
        [&](size_t k) {
            bool gone = false;
            results[k] = makeMove(plan, plan.moves[pending[k]], move, gone);
            folderGone[k] = gone;
            ++done;
        },
        &shown);
    for (size_t k = 0; k < pending.size(); ++k) {
        if (folderGone[k]) {
            return {Reason::kFolderMissing, pending[k]};  // the plan stays as it is
        }
    }
    // Every move but those that failed may have been made, now or before a crash.
    std::vector<char> failed(plan.moves.size());
    for (size_t k = 0; k < pending.size(); ++k) {
        failed[pending[k]] = !results[k].ok();
    }
    std::vector<size_t> made;
    for (size_t i = 0; i < plan.moves.size(); ++i) {
        if (!failed[i]) {
            made.push_back(i);
        }
    }
    for (size_t k = 0; k < pending.size(); ++k) {
        if (!results[k].ok()) {
            if (undoMoves(plan, made, progress, move, changed)) {
                removeJournal(state, progress);
            }
            return {results[k], pending[k]};
        }
    }
    changed.sync(pacing.always);
    return {};
}

// Makes the pending moves of the plan. A counted plan counts each move durably before the
// next. An uncounted one refuses a move whose destination holds a file (EEXIST), and makes its
// renames durable all at once, before the settings file is saved. Where a source's folder is
// gone the moves stop and the plan stays on disk, until the folder is back.
MoveOutcome runMoves(ProgramState& state, const MovePlan& plan, const std::vector<size_t>& pending,
                     platform::ProgressFile& progress, const MoveFunction& move, Pacing pacing,
                     ChangedFolders& changed) {
    state.intProgressTotal = ProgressCount(plan.moves.size());
    if (!plan.counted && !chained(plan)) {
        return runAtOnce(state, plan, pending, progress, move, pacing, changed);
    }
    for (const size_t i : pending) {
        state.intProgress = ProgressCount(i + 1);
        tick(pacing.slowRun);
        tick(pacing.always);
        const PlannedMove& step = plan.moves[i];
        changed.note(step);
        bool folderGone = false;
        const bool there = platform::pathExists(step.from);
        Status status = makeMove(plan, step, move, folderGone);
        if (folderGone) {
            return {Reason::kFolderMissing, i};
        }
        const bool moved = there && status.ok();
        if (status.ok() && plan.counted) {
            status = progress.setCount(i + 1);
        }
        if (!status.ok()) {
            // A move made but not counted goes back first, as the count does not cover it.
            // Should it refuse, the plan stays on disk and is completed at the next start,
            // where a move whose source is gone counts as made.
            if (moved && !move(step.to, step.from).ok()) {
                return {status, i};
            }
            if (undoMoves(plan, firstMoves(i), progress, move, changed)) {
                removeJournal(state, progress);
            }
            return {status, i};
        }
    }
    changed.sync(pacing.always);
    return {};
}

// Completes the copies to another file system that were made but whose sources are still
// there, as resumption() found them.
MoveOutcome finishCopies(const MovePlan& plan, const Resumption& resume, const MoveFunction& move,
                         ChangedFolders& changed) {
    for (const size_t i : resume.unfinishedCopies) {
        changed.note(plan.moves[i]);
        if (Status s = move(plan.moves[i].from, plan.moves[i].to); !s.ok()) {
            return {s, i};
        }
    }
    return {};
}

MoveOutcome finish(ProgramState& state, const MovePlan& plan, platform::ProgressFile& progress,
                   const MoveFunction& move, Pacing pacing, ChangedFolders& changed) {
    const ProgramState before = state;
    state.strPassword = plan.password;
    state.strStorageDir = plan.storageDir;
    state.strExtension = plan.extension;
    if (Status saved = saveList(state, plan.catalogue, pacing.slowRun); !saved.ok()) {
        const int16_t progressShown = state.intProgress;
        state = before;
        state.intProgress = progressShown;
        if (undoMoves(plan, firstMoves(plan.counted ? progress.count() : plan.moves.size()),
                      progress, move, changed)) {
            removeJournal(state, progress);
        }
        return {saved, std::nullopt};
    }
    DeleteOwnCopies(state, plan.removals, pacing.always);  // there may be many
    removeJournal(state, progress);
    return {};
}

}  // namespace

std::string JournalPath(const ProgramState& state) {
    return state.strSystemDir + platform::kSeparator + "regInfo.moves";
}

Status MoveStoredFile(const std::string& from, const std::string& to) {
    std::vector<std::string> syncedByTheJournal;
    return platform::movePathKeeping(from, to, &syncedByTheJournal);
}

MoveOutcome CarryOutMoves(ProgramState& state, const MovePlan& plan, const MoveFunction& move,
                          Pacing pacing) {
    if (Status s = writeJournal(state, plan, pacing.slowRun); !s.ok()) {
        return {s, std::nullopt};
    }
    platform::ProgressFile progress(progressPath(state));
    if (Status s = plan.counted ? progress.open() : Status::success(); !s.ok()) {
        (void)platform::removeFile(JournalPath(state));
        return {s, std::nullopt};
    }
    ChangedFolders changed;
    MoveOutcome outcome =
        runMoves(state, plan, firstMoves(plan.moves.size()), progress, move, pacing, changed);
    if (!outcome.status.ok()) {
        return outcome;
    }
    return finish(state, plan, progress, move, pacing, changed);
}

std::optional<MoveOutcome> CompleteInterruptedMoves(ProgramState& state, Catalogue& catalogue,
                                                    const MoveFunction& move, Pacing pacing) {
    platform::ProgressFile progress(progressPath(state));
    if (!platform::pathExists(JournalPath(state))) {
        (void)progress.remove();  // a count left after its plan was removed
        return std::nullopt;
    }
    const std::optional<MovePlan> plan = readJournal(state, pacing.slowRun);
    if (!plan) {
        return MoveOutcome{Reason::kUnreadableRecord, std::nullopt};  // nothing is guessed
    }
    if (plan->counted) {
        if (Status s = progress.openExisting(); !s.ok() && s.error != ENOENT) {
            return MoveOutcome{s, std::nullopt};
        } else if (!s.ok() && !(s = progress.open()).ok()) {
            return MoveOutcome{s, std::nullopt};
        }
        if (progress.count() > plan->moves.size()) {
            return MoveOutcome{Reason::kUnreadableRecord, std::nullopt};
        }
    }
    // Every move's file is somewhere: not yet moved, or moved. When none is found at all, the
    // folders are not the ones the plan was made in (an empty folder where a drive is mounted),
    // and carrying the plan out would only drop its files from the list.
    const bool anyFound =
        std::any_of(plan->moves.begin(), plan->moves.end(), [](const PlannedMove& move) {
            return platform::pathExists(move.from) || platform::pathExists(move.to);
        });
    if (!plan->moves.empty() && !anyFound) {
        return MoveOutcome{Reason::kFolderMissing, std::nullopt};
    }
    ChangedFolders changed;
    const Resumption resume = resumption(*plan, progress);
    MoveOutcome outcome = finishCopies(*plan, resume, move, changed);
    if (outcome.status.ok()) {
        outcome = runMoves(state, *plan, resume.pending, progress, move, pacing, changed);
    }
    if (outcome.status.ok()) {
        outcome = finish(state, *plan, progress, move, pacing, changed);
    }
    if (outcome.status.ok()) {
        catalogue = plan->catalogue;
    }
    return outcome;
}

std::vector<PlannedMove> RenumberingMoves(const ProgramState& state,
                                          const std::vector<size_t>& kept) {
    std::vector<PlannedMove> moves;
    for (size_t newPosition = 0; newPosition < kept.size(); ++newPosition) {
        const size_t oldPosition = kept[newPosition];
        const std::string from = StoredPath(state, oldPosition);
        if (oldPosition != newPosition && platform::pathExists(from)) {
            moves.push_back({from, StoredPath(state, newPosition)});
        }
    }
    return moves;
}

}  // namespace vantory
