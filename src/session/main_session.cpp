#include "session/main_session.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "commands/change_password.h"
#include "commands/hide_command.h"
#include "commands/recovery.h"
#include "commands/startup.h"
#include "commands/storage_settings.h"
#include "commands/store_check.h"
#include "session/filtered_catalogue.h"

namespace vantory {

namespace {

// Set to a whole number of seconds, this takes the place of the idle minutes of the settings
// tab, which count in whole minutes: the end-to-end test locks the window after a few seconds.
constexpr const char* kIdleSecondsVariable = "VANTORY_IDLE_LOCK_SECONDS";

int IdleSecondsGiven() {
    const char* text = std::getenv(kIdleSecondsVariable);
    int seconds = 0;
    if (text == nullptr ||
        std::from_chars(text, text + std::strlen(text), seconds).ec != std::errc()) {
        return 0;
    }
    return seconds;
}

}  // namespace

MainSession::MainSession(ProgramState& state, UiServices& ui, MainView& view, const Clock& clock,
                         Timer& idleTimer)
    : state_(state),
      ui_(ui),
      view_(view),
      context_{state_, ui_, catalogue_, *this},
      runCommand_(context_, [this](const std::string& caption) { view_.showRunCaption(caption); }),
      gate_(state_),
      idleLock_(clock, idleTimer),
      preferences_(state_) {
    idleLock_.setMinutes(preferences_.idleLockMinutes());
    idleLock_.setOverrideSeconds(IdleSecondsGiven());
}

MainSession::CommandScope::CommandScope(MainSession& session) : session_(session) {
    session_.gate_.started();
}

MainSession::CommandScope::~CommandScope() {
    if (session_.gate_.finished()) {
        session_.scheduleAfterCommands();
    }
}

bool MainSession::load() {
    if (loaded_) {
        return true;
    }
    loaded_ = true;
    CommandScope command(*this);

    // Going on with an empty list would hide new files over the stored files it lists, and
    // write a new settings file over it.
    if (const Result read = loadList(state_, catalogue_, WindowPacing(state_, ui_).slowRun());
        !read.ok()) {
        ShowUnusableSettingsFile(state_, ui_, read);
        gate_.setUnusable();
        view_.closeWindow();
        return false;
    }
    view_.showList();
    view_.showStorageLabel();
    view_.showExtensionLabel();
    state_.bolSlowRun = true;
    view_.showSlowRun(true);
    // The window is up already, and this work yields to it: no command may start meanwhile.
    view_.setUsable(false);
    RecoverInterruptedWork(context_);
    view_.setUsable(true);
    view_.showList();  // interrupted work finished just before may have changed the catalogue
    ErrorRemoveFiles(context_, {}, [this] { view_.showList(); });
    view_.selectFirst();
    preferences_.tellProblem(ui_);
    idleLockCounts_ = true;
    restartIdleTimer();
    return true;
}

void MainSession::runWhenReady(const std::function<void()>& command) {
    CommandScope scope(*this);
    const CommandGate::Start start = gate_.mayStart(context_);
    if (start == CommandGate::Start::kShowChanges) {
        view_.showList();
        view_.showStorageLabel();
        view_.showExtensionLabel();
    }
    if (start == CommandGate::Start::kGo) {
        command();
    }
}

void MainSession::addFiles() {
    runWhenReady([this] { AddFiles(context_, [this] { view_.showList(); }); });
}

void MainSession::restoreSelected() {
    runWhenReady([this] {
        RestoreSelected(context_, view_.currentPosition(), view_.selectedPositions(),
                        [this](const RestoreOutcome& outcome) { showRestored(outcome); });
    });
}

void MainSession::restoreAll() {
    runWhenReady([this] {
        RestoreAll(context_, [this](const RestoreOutcome& outcome) { showRestored(outcome); });
    });
}

void MainSession::showRestored(const RestoreOutcome& outcome) {
    // Entries that stay hidden end selected; the others have left the list.
    view_.showList();
    view_.select(outcome.stillHidden);
}

void MainSession::run() {
    const auto press = [this] {
        runCommand_.press(EntryToRun(view_.selectedPositions(), view_.currentPosition()));
    };
    if (!runCommand_.waiting()) {
        runWhenReady(press);
        return;
    }
    CommandScope command(*this);  // the second press only puts away the file the first opened
    press();
}

void MainSession::changePassword() {
    runWhenReady([this] { ChangePassCommand(context_); });
}

void MainSession::setExtension() {
    runWhenReady([this] {
        if (SetExtensionCommand(context_)) {
            view_.showExtensionLabel();
        }
    });
}

void MainSession::setStorageFolder() {
    runWhenReady([this] {
        if (SetStorageDirCommand(context_)) {
            view_.showStorageLabel();
        }
    });
}

void MainSession::hideDropped(const std::vector<std::string>& paths) {
    if (gate_.takesDrops()) {
        runWhenReady([&] { HideSelection(context_, paths, [this] { view_.showList(); }); });
    }
}

void MainSession::handOver(std::vector<std::string> paths) {
    if (!paths.empty()) {
        gate_.handOver(std::move(paths));
        scheduleAfterCommands();
    }
}

void MainSession::scheduleAfterCommands() {
    view_.later([this] { afterCommands(); });
}

void MainSession::afterCommands() {
    CommandGate::Next next = gate_.afterCommands(loaded_ && !locked_, idleLock_);
    if (next.kind == CommandGate::Next::kLock) {
        lockNow();
    } else if (next.kind == CommandGate::Next::kHide) {
        // The command's end looks at the next list.
        runWhenReady([&] { HideSelection(context_, next.paths, [this] { view_.showList(); }); });
    }
}

void MainSession::setIdleLockMinutes(int minutes) {
    if (minutes == preferences_.idleLockMinutes()) {
        return;
    }
    CommandScope command(*this);
    idleLock_.setMinutes(minutes);
    restartIdleTimer();
    preferences_.setIdleLockMinutes(minutes, ui_);
}

void MainSession::restartIdleTimer() {
    if (idleLockCounts_) {
        idleLock_.restart(locked_);
    }
}

void MainSession::idleTimerFired() {
    if (idleLock_.timerFired()) {
        idleTimeElapsed();
    }
}

void MainSession::idleTimeElapsed() {
    if (loaded_ && !locked_ && idleLock_.lockDue(gate_.commandRunning())) {
        lockNow();
    }
}

void MainSession::lockNow() {
    idleLock_.locked();
    locked_ = true;
    view_.lock();
}

void MainSession::unlocked() {
    locked_ = false;
    restartIdleTimer();
    scheduleAfterCommands();  // handed-over files may be waiting
}

void MainSession::closing(const std::optional<WindowPlace>& place) {
    // A list that could not be read: nothing is written.
    if (loaded_ && !gate_.unusable() && place) {
        preferences_.rememberPlace(*place);
    }
}

void MainSession::OpRunning(bool running) {
    view_.showControls(gate_.setBusy(running));
    if (running) {
        return;
    }
    if (gate_.takeWaitingClose()) {
        // Close once the command that just left the busy state has returned.
        view_.later([this] { view_.closeWindow(); });
    }
    scheduleAfterCommands();
}

}  // namespace vantory
