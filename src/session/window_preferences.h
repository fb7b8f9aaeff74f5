#pragma once

#include <optional>
#include <string>

#include "commands/ui_services.h"
#include "store/preferences.h"

namespace vantory {

// vantory.conf as the main window uses it: read before the window shows, so that it opens
// where it was left; the idle minutes the user sets; the place written back at the close.
class WindowPreferences {
  public:
    explicit WindowPreferences(const ProgramState& state);

    int idleLockMinutes() const { return values_.idleLockMinutes; }
    const std::optional<WindowPlace>& place() const { return values_.window; }

    // Once, from the load step: a file that could not be used, and what applies meanwhile.
    void tellProblem(UiServices& ui);
    // The user set other idle minutes: they are kept and written, and a file that cannot be
    // written is told (they apply until Vantory ends).
    void setIdleLockMinutes(int minutes, UiServices& ui);
    // The window closes at `place`: written when it changed. Only a convenience: a file that
    // cannot be written is not worth a word as Vantory ends.
    void rememberPlace(const WindowPlace& place);

  private:
    std::string path_;
    Preferences values_;
    std::string problem_;  // from reading them, told by the load step
};

}  // namespace vantory
