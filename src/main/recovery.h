#pragma once

#include <string>
#include <vector>

#include "main/command_context.h"

namespace vantory {

// Work that a crash or a closed window left half done is finished at the next start, right
// after the catalogue is loaded and before the store check looks for missing stored files:
// otherwise the check would drop entries whose files are merely in the middle of a move.
// Each step tells the user what it found and did.
void RecoverInterruptedWork(CommandContext& context);

// Completes a journal of stored-file moves (renumbering, new storage folder or extension).
void FinishInterruptedMoves(CommandContext& context);

// Deletes the unfinished temporary files that a write cut short left beside its target
// (".<name>.vantory-XXXXXX", which only ever replaces its target once complete): in the
// settings folder, in the storage folder (beside stored files and the files of Run Selected
// File), and beside the original path of every catalogue entry (a file being restored). Only
// regular files named after a file that Vantory writes in that folder are touched. Returns
// the paths deleted.
std::vector<std::string> RemoveStrayTemporaries(CommandContext& context);

}  // namespace vantory
