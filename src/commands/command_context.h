#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cipher/pacer.h"

#include "commands/ui_services.h"
#include "store/catalogue.h"
#include "store/program_state.h"

namespace vantory {

// Enters and leaves the busy state; the main window implements it, tests fake it.
class BusyState {
  public:
    virtual ~BusyState() = default;
    // True disables the window's commands and shows the busy window; false undoes both.
    // Calling it with true again while busy changes nothing.
    virtual void OpRunning(bool running) = 0;
};

// What every command works on.
struct CommandContext {
    ProgramState& state;
    UiServices& ui;
    Catalogue& catalogue;
    BusyState& busy;
};

// The window system's turns during a command's store work: the slow-run pacer exists only
// while Slow Run is on, and counts the bytes of the file in hand into the state, which the
// window then shows; the other yields whatever Slow Run says.
class WindowPacing {
  public:
    WindowPacing(ProgramState& state, UiServices& ui) : always_([&ui] { ui.yield(); }) {
        if (state.bolSlowRun) {
            slowRun_.emplace([&ui] { ui.yield(); });
            slowRun_->countBytesIn(&state.fileBytes);
        }
    }
    Pacer* slowRun() { return slowRun_ ? &*slowRun_ : nullptr; }
    Pacer* always() { return &always_; }
    Pacing both() { return {slowRun(), always()}; }

  private:
    std::optional<Pacer> slowRun_;
    Pacer always_;
};

// A message's text: `heading`, then each path on a line of its own.
inline std::string WithPaths(std::string heading, const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        heading += "\r\n" + path;
    }
    return heading;
}

}  // namespace vantory
