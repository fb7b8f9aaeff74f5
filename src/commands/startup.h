#pragma once

#include <string>
#include <string_view>

#include "commands/ui_services.h"
#include "platform/platform.h"
#include "store/program_state.h"
#include "store/result.h"

namespace vantory {

using platform::Status;

inline constexpr const char* kLoginCaption = "Login";
inline constexpr const char* kFactoryCaption = "Default password = \"kumquat\"";

enum class StartOutcome {
    kAnotherInstance,   // another copy runs: end at once, without a word
    kReady,             // settings read from the settings file
    kFactorySettings,   // factory settings just written
    kSettingsUnusable,  // the settings cannot be read or kept: end, changing nothing
    kStorageInUse,      // another copy works on the storage folder: end (the user has been told)
};

// The password window's load step: finds the settings folder, ends when another instance
// runs, writes factory settings when there is no settings file (and says so), and reads
// the three settings. A settings folder in which that file cannot be written is reported
// with its path, and the start ends. A settings file that is there but cannot be read, or is
// damaged, is reported and left as it is: going on without it would write a new one over
// it, and new stored files over the ones it lists. Last, it takes the lock on the storage
// folder, and ends when another copy of Vantory works there.
StartOutcome PrepareStart(ProgramState& state, UiServices& ui);

// Tells the user that the settings file (or the list of hidden files in it) cannot be used,
// and that it is left as it is and Vantory closes.
void ShowUnusableSettingsFile(const ProgramState& state, UiServices& ui, const Result& status);

// The typed password against the stored one: exact, case-sensitive.
bool PasswordMatches(const ProgramState& state, const std::string& typed);

// Whether `password` can be set: the password box takes no line break (CR or LF), so a
// password holding one could never be typed to open the list again.
bool PasswordCanBeTyped(std::string_view password);

// The password window's messages.
void ShowInvalidPassword(UiServices& ui);
void ShowPasswordHelp(UiServices& ui);

}  // namespace vantory
