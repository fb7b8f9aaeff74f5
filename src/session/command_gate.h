#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "session/idle_lock.h"
#include "store/program_state.h"

namespace vantory {

// Which command may start, and what waits for the running ones: a close of the window, the
// idle lock, and the lists of files handed over by later starts of the program. A command
// runs from its start (a click, a drop, a hand-over, the load step) until it has returned
// and its busy state has ended; the wait of Run Selected File for its second press is a busy
// state, but not a running command.
class CommandGate {
  public:
    // Which controls the user may reach in a busy state; std::nullopt leaves one as it is.
    struct Controls {
        bool list;                       // the filter box, the list, Hide and both Restores
        std::optional<bool> run;         // Run Selected File
        bool settings;                   // Change Password, the storage settings, Slow Run
        std::optional<bool> tabs;        // the tab strip, and with it Encrypt
        std::optional<bool> busyWindow;  // shown or hidden
    };

    explicit CommandGate(ProgramState& state) : state_(state) {}

    // The busy state starts or ends; a start forgets the bytes of an earlier command's files.
    // While Run Selected File waits for its second press, Run and the tabs stay as they are
    // (usable, so the press can come) and no busy window shows.
    Controls setBusy(bool running);

    // Whether the command chosen now may start. Work an earlier command left unfinished is
    // finished first; the command then waits for the user to choose it again, and the window
    // shows what that work changed (kShowChanges). No command starts in a window whose list
    // could not be read, or while another copy of Vantory works on the storage folder.
    enum class Start { kGo, kRefused, kShowChanges };
    Start mayStart(CommandContext& context) const;
    // The list could not be read: nothing may be written from now on.
    void setUnusable() { unusable_ = true; }
    bool unusable() const { return unusable_; }

    // The window to look at: the password window while locked, the busy window while a
    // command is busy, else the main window.
    enum class Front { kMain, kPassword, kBusy };
    Front windowInFront(bool locked) const {
        return locked ? Front::kPassword : busyWithCommand() ? Front::kBusy : Front::kMain;
    }

    void started() { ++depth_; }
    // True when the last command has returned: what waited may follow (see afterCommands).
    bool finished() { return --depth_ == 0; }

    // The busy state of a command, not the wait of Run Selected File.
    bool busyWithCommand() const { return state_.bolBusy && !state_.bolTempFileOpen; }
    bool commandRunning() const { return depth_ > 0 || busyWithCommand(); }
    // Dropped files start a hide only while nothing is busy, the open file included.
    bool takesDrops() const { return !state_.bolBusy; }

    // A close of the window is asked for. True: it closes now. False: ending in the middle of
    // a command could cut a file short, so it waits for the busy state to end.
    bool mayClose();
    bool closeWaiting() const { return closeWaiting_; }
    // The busy state has ended: whether a close waited for it. It is taken.
    bool takeWaitingClose();

    void handOver(std::vector<std::string> paths) { handedOver_.push_back(std::move(paths)); }

    // What follows once the commands have ended, in a window that is loaded and unlocked
    // (`windowInUse`) and whose list could be read: a lock that waited, else the next list handed
    // over, whose hide never starts while Run Selected File waits either.
    struct Next {
        enum Kind { kNothing, kLock, kHide } kind = kNothing;
        std::vector<std::string> paths;  // for kHide
    };
    Next afterCommands(bool windowInUse, IdleLock& idleLock);

  private:
    ProgramState& state_;
    int depth_ = 0;
    bool closeWaiting_ = false;
    bool unusable_ = false;
    std::deque<std::vector<std::string>> handedOver_;
};

}  // namespace vantory
