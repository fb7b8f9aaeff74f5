#pragma once

#include <string>
#include <vector>

#include "store/catalogue.h"
#include "store/program_state.h"
#include "ui/ui_services.h"

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

// A message's text: `heading`, then each path on a line of its own.
inline std::string WithPaths(std::string heading, const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        heading += "\r\n" + path;
    }
    return heading;
}

}  // namespace vantory
