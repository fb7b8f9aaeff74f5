#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "commands/restore_command.h"
#include "commands/run_command.h"
#include "session/command_gate.h"
#include "session/idle_lock.h"
#include "session/window_preferences.h"
#include "store/catalogue.h"

namespace vantory {

// What the main window draws and does when the session tells it to. The Qt and the Win32
// main windows implement it; what the list shows of the catalogue is the FilteredCatalogue's.
class MainView {
  public:
    virtual ~MainView() = default;
    // The list refilled from the catalogue, the selection kept where it still shows.
    virtual void showList() = 0;
    // The help texts beside Set Storage Folder and Set Encrypted File Extension, again.
    virtual void showStorageLabel() = 0;
    virtual void showExtensionLabel() = 0;
    // Catalogue positions of the selected rows, ascending; of the current row (-1: none).
    virtual std::vector<size_t> selectedPositions() const = 0;
    virtual int currentPosition() const = 0;
    // Selects exactly the rows of `positions` that show, the first of them current.
    virtual void select(const std::vector<size_t>& positions) = 0;
    virtual void selectFirst() = 0;
    virtual void showRunCaption(const std::string& caption) = 0;
    virtual void showSlowRun(bool on) = 0;
    // Which controls the user may reach, and whether the busy window shows.
    virtual void showControls(const CommandGate::Controls& controls) = 0;
    // While the load step finishes interrupted work, nothing in the window may be used.
    virtual void setUsable(bool usable) = 0;
    // Calls `then` from the event loop, once the event in hand has been dealt with.
    virtual void later(std::function<void()> then) = 0;
    // Hides the window (and the busy window) and asks for the password again.
    virtual void lock() = 0;
    // Closes the window, which ends the program (its close asks mayClose).
    virtual void closeWindow() = 0;
};

// The main window's session: the catalogue and the commands run on it, through the command
// gate, the idle lock and the window's preferences. The window forwards its events here and
// draws what the session tells its MainView.
class MainSession : public BusyState {
  public:
    // `idleTimer` fires into idleTimerFired().
    MainSession(ProgramState& state, UiServices& ui, MainView& view, const Clock& clock,
                Timer& idleTimer);

    // The load step, once: reads the catalogue, shows the folder and extension, switches slow
    // run on, finishes interrupted work and runs the store check; then the idle lock starts.
    // A catalogue that cannot be read is reported and the window closes, which ends the
    // program, before anything is written; false then.
    bool load();
    bool loaded() const { return loaded_; }

    // The commands of the buttons, each when one may start now (CommandGate::mayStart).
    void addFiles();
    void restoreSelected();
    void restoreAll();
    // Run Selected File: its second press only puts away the file the first one opened.
    void run();
    void changePassword();
    void setExtension();
    void setStorageFolder();
    // Files dropped on the list, hidden as one selection while nothing is busy.
    bool takesDrops() const { return gate_.takesDrops(); }
    void hideDropped(const std::vector<std::string>& paths);
    // Files handed over by a later start: hidden once the window is loaded and unlocked and no
    // command runs, in the order they came.
    void handOver(std::vector<std::string> paths);

    // The idle lock: input, the user's minutes, its timer, the password given again.
    void input() { idleLock_.input(); }
    void setIdleLockMinutes(int minutes);
    void idleTimerFired();
    // The idle time has passed: the window locks now, or, while a command runs or the busy
    // state lasts, once it has ended (unless input comes first).
    void idleTimeElapsed();
    bool locked() const { return locked_; }
    void unlocked();

    // A close is asked for. False: a command is busy, and the close waits for its end.
    bool mayClose() { return gate_.mayClose(); }
    // The window closes where `place` says (none: unknown): remembered for the next start.
    void closing(const std::optional<WindowPlace>& place);

    void OpRunning(bool running) override;

    Catalogue& catalogue() { return catalogue_; }
    CommandContext& context() { return context_; }
    RunCommand& runCommand() { return runCommand_; }
    const CommandGate& gate() const { return gate_; }
    const IdleLock& idleLock() const { return idleLock_; }
    const WindowPreferences& preferences() const { return preferences_; }

  private:
    // Marks the running of a command (a click, a drop, a hand-over, the load step): the idle
    // lock and handed-over files wait until the last one has returned.
    class CommandScope {
      public:
        explicit CommandScope(MainSession& session);
        ~CommandScope();
        CommandScope(const CommandScope&) = delete;
        CommandScope& operator=(const CommandScope&) = delete;

      private:
        MainSession& session_;
    };

    // Runs `command` as a command, when one may start now; the window shows what unfinished
    // work changed when that came first.
    void runWhenReady(const std::function<void()>& command);
    void showRestored(const RestoreOutcome& outcome);
    void restartIdleTimer();
    void lockNow();
    // What waited for the commands to end: the lock, then handed-over files; from the event
    // loop, once the command that ended has returned.
    void scheduleAfterCommands();
    void afterCommands();

    ProgramState& state_;
    UiServices& ui_;
    MainView& view_;
    Catalogue catalogue_;
    CommandContext context_;
    RunCommand runCommand_;
    CommandGate gate_;
    IdleLock idleLock_;
    WindowPreferences preferences_;
    bool loaded_ = false;
    bool locked_ = false;
    bool idleLockCounts_ = false;  // from the load step on
};

}  // namespace vantory
