#include "store/preferences.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <iterator>
#include <utility>
#include <vector>

#include "store/settings_file.h"

namespace vantory {

namespace {

constexpr std::string_view kIdleLockName = "idle-lock-minutes";
constexpr std::string_view kWindowName = "window";
constexpr std::string_view kMaximized = "maximized";
// No window is larger, nor placed further from the origin, than this.
constexpr int kFarthest = 100000;

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The name of a "name=value" line, or "" for a blank line, a comment or anything else.
std::string_view nameOf(std::string_view line) {
    line = trimmed(line);
    const size_t equals = line.find('=');
    if (line.empty() || line[0] == '#' || equals == std::string_view::npos) {
        return {};
    }
    return trimmed(line.substr(0, equals));
}

std::string_view valueOf(std::string_view line) {
    return trimmed(line.substr(line.find('=') + 1));
}

std::optional<WindowPlace> parseWindowPlace(std::string_view value) {
    WindowPlace place;
    int* const fields[] = {&place.x, &place.y, &place.width, &place.height};
    for (size_t i = 0; i < std::size(fields); ++i) {
        if (i > 0) {
            if (value.empty() || value[0] != ',') {
                return std::nullopt;
            }
            value.remove_prefix(1);
        }
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), *fields[i]);
        if (error != std::errc() || std::abs(*fields[i]) > kFarthest) {
            return std::nullopt;
        }
        value.remove_prefix(static_cast<size_t>(end - value.data()));
    }
    place.maximized = value == std::string(",") + std::string(kMaximized);
    if ((!value.empty() && !place.maximized) || place.width <= 0 || place.height <= 0) {
        return std::nullopt;
    }
    return place;
}

std::string formatWindowPlace(const WindowPlace& place) {
    return std::to_string(place.x) + "," + std::to_string(place.y) + "," +
           std::to_string(place.width) + "," + std::to_string(place.height) +
           (place.maximized ? "," + std::string(kMaximized) : "");
}

}  // namespace

std::string PreferencesPath(const ProgramState& state) {
    return state.strSystemDir + "/" + kPreferencesFileName;
}

std::string ParsePreferences(std::string_view text, Preferences& preferences) {
    std::vector<std::string> bad;
    for (const std::string& line : SplitLines(text)) {
        if (nameOf(line) == kWindowName) {
            if (const std::optional<WindowPlace> place = parseWindowPlace(valueOf(line))) {
                preferences.window = place;
            }
            continue;
        }
        if (nameOf(line) != kIdleLockName) {
            continue;
        }
        const std::string_view value = valueOf(line);
        int minutes = -1;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), minutes);
        if (error != std::errc() || end != value.data() + value.size() || minutes < 0 ||
            minutes > kMaxIdleLockMinutes) {
            bad.push_back("\"" + line + "\"");
            continue;
        }
        preferences.idleLockMinutes = minutes;
    }
    if (bad.empty()) {
        return {};
    }
    std::string problem = bad.size() == 1 ? "the line " : "the lines ";
    for (size_t i = 0; i < bad.size(); ++i) {
        problem += (i == 0 ? "" : i + 1 == bad.size() ? " and " : ", ") + bad[i];
    }
    return problem + (bad.size() == 1 ? " does" : " do") +
           " not give a number of minutes from 0 to " + std::to_string(kMaxIdleLockMinutes);
}

std::string FormatPreferences(const Preferences& preferences, std::string_view previous) {
    // Each known setting's line, and whether it has been written; no line for a setting whose
    // value is not known.
    struct Known {
        std::string_view name;
        std::optional<std::string> value;
        bool written = false;
    };
    Known known[] = {
        {kIdleLockName, std::to_string(preferences.idleLockMinutes)},
        {kWindowName,
         preferences.window ? std::optional(formatWindowPlace(*preferences.window)) : std::nullopt},
    };
    std::string text;
    for (const std::string& line : SplitLines(previous)) {
        Known* setting = nullptr;
        for (Known& k : known) {
            if (k.value && nameOf(line) == k.name) {
                setting = &k;
            }
        }
        if (setting == nullptr) {
            text += line + "\n";
        } else if (!std::exchange(setting->written, true)) {
            text += std::string(setting->name) + "=" + *setting->value + "\n";
        }
    }
    if (text.empty()) {
        text = "# Vantory's own settings; the password and the list live in regInfo.lst.\n";
    }
    for (const Known& k : known) {
        if (k.value && !k.written) {
            text += std::string(k.name) + "=" + *k.value + "\n";
        }
    }
    return text;
}

std::string ReadPreferences(const std::string& path, Preferences& preferences) {
    platform::Status status;
    const std::optional<std::string> text = platform::readWholeFile(path, &status);
    if (!text) {
        if (status.error == ENOENT) {
            return {};
        }
        return "it cannot be read (" + status.message() + ")";
    }
    return ParsePreferences(*text, preferences);
}

platform::Status WritePreferences(const std::string& path, const Preferences& preferences) {
    const std::optional<std::string> previous = platform::readWholeFile(path);
    return platform::writeFileAtomically(
        path, FormatPreferences(preferences, previous.value_or("")), 0600);
}

}  // namespace vantory
