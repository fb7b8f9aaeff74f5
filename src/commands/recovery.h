#pragma once

#include <string>
#include <vector>

#include "commands/command_context.h"

namespace vantory {

// Work that a crash or a closed window left half done is finished at the next start, right
// after the catalogue is loaded and before the store check looks for missing stored files:
// otherwise the check would drop entries whose files are merely in the middle of a move.
// Each step tells the user what it found and did.
void RecoverInterruptedWork(CommandContext& context);

// Completes a journal of stored-file moves (renumbering, new storage folder or extension).
void FinishInterruptedMoves(CommandContext& context);

// Takes back what a sealed hide stopped by a crash left in storage unlisted: each copy
// whose content is that of a picked file still in its place is deleted. Any other file under
// those stored names is kept, and named in a message.
void FinishInterruptedHide(CommandContext& context);

// Before a command that works on the stored files or the list. A command that a failing disk
// stopped half way may have left work recorded for the next start: stored files half
// renumbered or moved, or half of them sealed under a new password. Building on that could
// restore a file with the wrong content or lose an entry, so that work is finished first.
// Returns true when there was none; otherwise false, after telling the user either that it
// has now been finished (the list may have changed, so the command is not run) or that it
// still cannot be.
bool FinishPendingWork(CommandContext& context);

// Deletes the unfinished temporary files that a write cut short left beside its target
// (".<name>.vantory-XXXXXX", which only ever replaces its target once complete): in the
// settings folder, in the storage folder (beside stored files and the files of Run Selected
// File), and beside the original path of every catalogue entry (a file being restored). Only
// regular files named after a file that Vantory writes in that folder are touched. Returns
// the paths deleted.
std::vector<std::string> RemoveStrayTemporaries(CommandContext& context);

}  // namespace vantory
