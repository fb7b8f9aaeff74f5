#pragma once

// The check at every start that each catalogue entry still has its stored file: entries whose
// stored file has gone are dropped, the stored files after them are renumbered so that entry
// p is stored as p + 100 again, every stored file is hidden again, and the settings file is
// rewritten. The user is told which original paths were lost.

#include <functional>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "store/move_journal.h"

namespace vantory {

// Runs after the catalogue has been loaded (and interrupted work finished). Reads the
// catalogue lines of the settings file itself; an entry is dropped only when nothing at all
// is at its stored path. A line whose number field is not the entry's own three-digit
// number, or whose path is not the entry's, is left alone. An empty catalogue, or a settings
// file that cannot be read, ends the check at once without a busy state.
//
// The renumbering runs as one journalled plan (CarryOutMoves), so a crash cannot separate an
// entry from its file. `move` carries out each move (by default the shell's move);
// `listChanged` runs once the catalogue holds its final entries, before any message. Returns
// the original paths of the entries dropped, in catalogue order. Files that Vantory stored
// under the names past the end of the list (a list cut short) are named, and left as they are.
std::vector<std::string> ErrorRemoveFiles(CommandContext& context, const MoveFunction& move = {},
                                          const std::function<void()>& listChanged = {});

// Gives every stored file of the catalogue the attributes 7 again.
void HideFiles(CommandContext& context);

// "Error!  The file(s)", each path with a space on either side, then " was deleted from
// storage.".
std::string DeletedFromStorageText(const std::vector<std::string>& paths);

}  // namespace vantory
