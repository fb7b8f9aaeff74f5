#pragma once

#include <string>

#include "store/program_state.h"
#include "ui/ui_services.h"

namespace vantory {

inline constexpr const char* kLoginCaption = "Login";
inline constexpr const char* kFactoryCaption = "Default password = \"kumquat\"";

enum class StartOutcome {
    kAnotherInstance,  // another copy runs: end at once, without a word
    kReady,            // settings read from the settings file
    kFactorySettings,  // factory settings in use (just written, or the file could not be used)
};

// The password window's load step: finds the settings folder, ends when another instance
// runs, writes factory settings when there is no settings file (and says so), and reads
// the three settings. A settings file that cannot be written or read is reported with its
// path, and the factory settings are used in memory.
StartOutcome PrepareStart(ProgramState& state, UiServices& ui);

// The typed password against the stored one: exact, case-sensitive.
bool PasswordMatches(const ProgramState& state, const std::string& typed);

// The password window's messages.
void ShowInvalidPassword(UiServices& ui);
void ShowPasswordHelp(UiServices& ui);

}  // namespace vantory
