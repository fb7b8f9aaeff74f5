#pragma once

// vantory.conf, beside regInfo.lst: the settings that regInfo.lst has no line for, one
// "name=value" a line. Lines this version does not know are kept when the file is written.

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "store/program_state.h"

namespace vantory {

inline constexpr const char* kPreferencesFileName = "vantory.conf";
inline constexpr int kDefaultIdleLockMinutes = 10;
inline constexpr int kMaxIdleLockMinutes = 999;

// Where the main window was left, in pixels: the top-left corner of its frame, the size of
// what is inside the frame, and whether it filled the screen (the place and size are then
// those it goes back to). Written "window=X,Y,WIDTH,HEIGHT" with ",maximized" when it did.
struct WindowPlace {
    int x = 0, y = 0, width = 0, height = 0;
    bool maximized = false;
    bool operator==(const WindowPlace&) const = default;
};

struct Preferences {
    // Minutes without input before the window locks; 0: never.
    int idleLockMinutes = kDefaultIdleLockMinutes;
    // None until the window has been closed once. A line that does not give one is passed
    // over without a word: the window then opens at its first size.
    std::optional<WindowPlace> window;
};

std::string PreferencesPath(const ProgramState& state);

// The preferences in `text`; what is missing keeps its default. Returns what could not be
// used ("" when all could), naming every line that could not.
std::string ParsePreferences(std::string_view text, Preferences& preferences);

// `preferences` written over the lines of `previous`: known lines get their new values, the
// others stay as they are, and a known setting without a line gets one at the end (a window
// place that is not known leaves its line as it was).
std::string FormatPreferences(const Preferences& preferences, std::string_view previous = {});

// Reads the file; a missing one gives the defaults and no problem. Otherwise as
// ParsePreferences, with a file that cannot be read described in the result.
std::string ReadPreferences(const std::string& path, Preferences& preferences);

// Writes the whole file (private, replaced only once the new one is complete), keeping the
// lines of the old one that this version does not know.
platform::Status WritePreferences(const std::string& path, const Preferences& preferences);

}  // namespace vantory
