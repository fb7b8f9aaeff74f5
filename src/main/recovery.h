#pragma once

#include "main/command_context.h"

namespace vantory {

// Work that a crash or a closed window left half done is finished at the next start, right
// after the catalogue is loaded and before the store check looks for missing stored files:
// otherwise the check would drop entries whose files are merely in the middle of a move.
// Each step tells the user what it found and did.
void RecoverInterruptedWork(CommandContext& context);

// Completes a journal of stored-file moves (renumbering, new storage folder or extension).
void FinishInterruptedMoves(CommandContext& context);

}  // namespace vantory
