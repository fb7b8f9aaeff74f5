#include "session/window_preferences.h"

#include <utility>

namespace vantory {

WindowPreferences::WindowPreferences(const ProgramState& state)
    : path_(PreferencesPath(state)), problem_(ReadPreferences(path_, values_)) {}

void WindowPreferences::tellProblem(UiServices& ui) {
    if (const std::string problem = std::exchange(problem_, {}); !problem.empty()) {
        ui.messageBox("Vantory's own settings file " + path_ + " could not be used: " + problem +
                          ".  The window locks after " + std::to_string(values_.idleLockMinutes) +
                          " idle minutes until you set the time again.",
                      UiServices::kExclamation, "Settings file");
    }
}

void WindowPreferences::setIdleLockMinutes(int minutes, UiServices& ui) {
    values_.idleLockMinutes = minutes;
    if (const platform::Status s = WritePreferences(path_, values_); !s.ok()) {
        ui.messageBox("The idle time could not be saved in " + path_ + " (" + s.message() +
                          ").  It applies until Vantory ends.",
                      UiServices::kExclamation, "Settings file");
    }
}

void WindowPreferences::rememberPlace(const WindowPlace& place) {
    if (place == values_.window) {
        return;
    }
    values_.window = place;
    (void)WritePreferences(path_, values_);
}

}  // namespace vantory
