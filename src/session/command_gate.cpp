#include "session/command_gate.h"

#include <utility>

#include "commands/recovery.h"
#include "commands/storage_lock.h"

namespace vantory {

CommandGate::Controls CommandGate::setBusy(bool running) {
    if (!running) {
        state_.bolBusy = false;
        return {.list = true, .run = true, .settings = true, .tabs = true, .busyWindow = false};
    }
    if (!state_.bolBusy) {
        state_.fileBytes = {};
    }
    state_.bolBusy = true;
    if (state_.bolTempFileOpen) {
        return {.list = false, .run = {}, .settings = false, .tabs = {}, .busyWindow = {}};
    }
    return {.list = false, .run = false, .settings = false, .tabs = false, .busyWindow = true};
}

CommandGate::Start CommandGate::mayStart(CommandContext& context) const {
    if (unusable_) {
        return Start::kRefused;
    }
    if (!FinishPendingWork(context)) {
        return Start::kShowChanges;
    }
    // Interrupted work finished just now may have moved the storage folder.
    return ClaimStorageFolder(context.state, context.ui, false) ? Start::kGo : Start::kRefused;
}

bool CommandGate::mayClose() {
    if (busyWithCommand()) {
        closeWaiting_ = true;
        return false;
    }
    return true;
}

bool CommandGate::takeWaitingClose() {
    return std::exchange(closeWaiting_, false);
}

CommandGate::Next CommandGate::afterCommands(bool windowInUse, IdleLock& idleLock) {
    if (!windowInUse || unusable_ || commandRunning()) {
        return {};
    }
    if (idleLock.takeWaitingLock()) {
        return {Next::kLock, {}};
    }
    if (handedOver_.empty() || state_.bolBusy) {
        return {};
    }
    Next next{Next::kHide, std::move(handedOver_.front())};
    handedOver_.pop_front();
    return next;
}

}  // namespace vantory
