#pragma once

// Two copies of Vantory with settings of their own must never work on one storage folder at
// once: each would take the other's stored files for its own, and put its files under names
// the other uses. A copy holds a lock on its storage folder, a hidden file in it, while it
// works there.

#include <memory>
#include <string>

#include "commands/ui_services.h"
#include "platform/platform.h"
#include "store/program_state.h"

namespace vantory {

// The lock file in the storage folder. Its name is none that Vantory stores, writes a
// temporary file under, or takes for a leftover of its own.
inline constexpr const char* kStorageLockName = ".vantory.lock";

// A lock on `folder` (a storage folder, with or without its closing separator) for this copy.
// `inUse` tells whether another copy holds it. The lock is not held when it cannot be taken for
// another reason (a folder that is away or takes no new file), which is no reason to stop.
std::shared_ptr<platform::FolderLock> LockStorageFolder(const std::string& folder, bool& inUse);

// The words for a folder that another copy of Vantory works on.
std::string StorageInUseText(const std::string& folder);

// Makes sure this copy holds the lock on its storage folder before it works there; one held on
// a folder given up since is let go. False, and said in words, when another copy of Vantory
// works on the folder: at the start Vantory then closes, later it does not run the command.
bool ClaimStorageFolder(ProgramState& state, UiServices& ui, bool atStart);

}  // namespace vantory
