#include "commands/storage_lock.h"

namespace vantory {

std::shared_ptr<platform::FolderLock> LockStorageFolder(const std::string& folder, bool& inUse) {
    auto lock = std::make_shared<platform::FolderLock>();
    inUse = lock->acquire(platform::withoutClosingSeparators(folder), kStorageLockName) ==
            platform::LockResult::kHeldElsewhere;
    return lock;
}

std::string StorageInUseText(const std::string& folder) {
    return "The folder " + folder +
           " is the storage folder of another copy of Vantory that is running, one with "
           "settings of its own";
}

bool ClaimStorageFolder(ProgramState& state, UiServices& ui, bool atStart) {
    const std::string folder = platform::withoutClosingSeparators(state.strStorageDir);
    if (state.storageLock && state.storageLock->held() && state.storageLock->folder() == folder) {
        return true;
    }
    bool inUse = false;
    std::shared_ptr<platform::FolderLock> lock = LockStorageFolder(folder, inUse);
    if (!inUse) {
        state.storageLock = std::move(lock);
        return true;
    }
    ui.messageBox(StorageInUseText(state.strStorageDir) +
                      (atStart ? ".  Two copies working on one storage folder would mix up "
                                 "their files, so Vantory closes now; no hidden file has been "
                                 "touched.  Close the other copy, then start Vantory again."
                               : ".  Vantory did nothing; close the other copy, then choose the "
                                 "command again."),
                  UiServices::kExclamation, "Storage folder in use");
    return false;
}

}  // namespace vantory
