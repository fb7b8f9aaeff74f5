#pragma once

// The two storage settings commands: a new storage extension and a new storage folder. Each
// moves every stored file to its new name through the move journal, so the change is all or
// nothing: should one file refuse to move, the ones already moved go back and the setting
// stays; a crash in between is completed at the next start.

#include <string>

#include "commands/command_context.h"
#include "store/move_journal.h"

namespace vantory {

// The click handlers' work: ask for the new value, check it, move the files, save, and say
// how it went. True when the setting changed (the window then refreshes its label).
bool SetExtensionCommand(CommandContext& context);
bool SetStorageDirCommand(CommandContext& context);

// The same after the input box, with the move that carries one file (the commands use
// MoveStoredFile).
bool ChangeExtension(CommandContext& context, const std::string& extension,
                     const MoveFunction& move);
bool ChangeStorageDir(CommandContext& context, const std::string& folder, const MoveFunction& move);

}  // namespace vantory
