#include "session/command_gate.h"

#include <utility>

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
    if (!windowInUse || commandRunning()) {
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
