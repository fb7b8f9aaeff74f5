#pragma once

// Moving stored files around (renumbering, a new storage folder or extension) takes many
// steps, and a crash between them must not separate a catalogue entry from its file. So the
// whole plan (every move, and the settings and catalogue it leads to) is written beside the
// settings file first, then the moves are made, in order, and made durable together, and only
// then is the settings file rewritten and the plan removed. At the next start a plan still on
// disk is completed. No move replaces a file: a destination that holds one has been reached by
// its own move, so the moves made are found on disk, always the first ones of the plan, and
// no move has to be counted as it is made.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/catalogue.h"
#include "store/program_state.h"
#include "store/result.h"
#include "store/settings_file.h"
#include "store/stored_name.h"

namespace vantory {

struct PlannedMove {
    std::string from;
    std::string to;

    bool operator==(const PlannedMove&) const = default;
};

struct MovePlan {
    std::vector<PlannedMove> moves;  // carried out in this order
    // What the settings file holds once every move is done.
    std::string password;
    std::string storageDir;
    std::string extension;
    Catalogue catalogue;
    // Stored files deleted once the settings file is saved: Vantory's own copies that the new
    // list no longer needs (the sealed copy of a restored file). A crash before they are all
    // gone deletes the rest at the next start.
    std::vector<std::string> removals;
    // A plan written by an earlier version, whose moves may replace files: each move is counted
    // durably beside the plan before the next one, and the count says where to go on.
    bool counted = false;

    bool operator==(const MovePlan&) const = default;
};

// Moves one file. Renumbering inside the storage folder uses a rename; a new storage folder
// may need a move across file systems. Completing an interrupted plan needs a move that
// replaces the destination: a copy to another file system that was made whole, but whose
// source was not yet deleted, is made again.
using MoveFunction = std::function<Status(const std::string& from, const std::string& to)>;

// The move the commands give CarryOutMoves: a rename, or across file systems a copy flushed to
// disk before its source is deleted. It never replaces a file (EEXIST), and leaves the syncing
// of the folders to the plan, which syncs each once after its last move.
Status MoveStoredFile(const std::string& from, const std::string& to);

struct MoveOutcome {
    Result status;                     // ok when the plan was carried out and saved
    std::optional<size_t> failedMove;  // the move that could not be made; the earlier ones
                                       // were moved back and the settings file is unchanged
};

std::string JournalPath(const ProgramState& state);

// The journal's text: one line sealed with `password` per record (a header, the settings,
// each move, each catalogue entry, each removal). DecodeJournal gives nullopt for a text that
// is not such a journal: nothing in it is guessed.
std::string EncodeJournal(const MovePlan& plan, std::string_view password, Pacer* pacer = nullptr);
std::optional<MovePlan> DecodeJournal(std::string_view content, std::string_view password,
                                      Pacer* pacer = nullptr);

// Carries out the plan. Advances intProgress per move (intProgressTotal = number of moves) and
// ticks the pacing's pacers. A move whose destination holds a file fails with EEXIST. On success
// the state's settings take the plan's values, the settings file is rewritten and the removals are
// made. When a move fails every earlier move is undone, the state and the settings file stay as
// they were, and failedMove names the move.
MoveOutcome CarryOutMoves(ProgramState& state, const MovePlan& plan, const MoveFunction& move,
                          Pacing pacing = {});

// At start, after the password is known: completes a plan left by a crash. Returns nullopt
// when there was none; otherwise the outcome, with `state` and `catalogue` set to what the
// settings file now holds.
std::optional<MoveOutcome> CompleteInterruptedMoves(ProgramState& state, Catalogue& catalogue,
                                                    const MoveFunction& move, Pacing pacing = {});

// The renumbering that keeps entry p stored as p + 100 once some entries leave: `kept` holds
// the old positions that remain, ascending; each one's stored file moves to its new number.
// Files that do not exist, and files already under the right number, are left out. The moves
// run upwards, so each destination has been freed by an earlier move or was never taken.
std::vector<PlannedMove> RenumberingMoves(const ProgramState& state,
                                          const std::vector<size_t>& kept);

}  // namespace vantory
