#pragma once

// The program's command line: `vantory [--hide] [FILE...]`, `--salvage [--storage FOLDER]`,
// `--help`, `--version`.
// Arguments are byte strings, like every path in the program.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantory {

struct CommandLine {
    enum class Action {
        kStart,    // start as usual, then hide `files` (none: just start)
        kHelp,     // print UsageText() and end
        kVersion,  // print the version and end
        kSalvage,  // salvage a damaged settings file without the windows, print what was done
        kInvalid,  // print `error` and end with kBadArgumentsExit
    };
    Action action = Action::kStart;
    std::vector<std::string> files;  // absolute paths, in the order given
    std::string storageFolder;       // kSalvage: --storage FOLDER, absolute, ending in '/'
    std::string error;               // what was wrong, for kInvalid
};

// The exit code of a command line that cannot be used.
inline constexpr int kBadArgumentsExit = 2;

// Reads the arguments after the program's name. Relative FILEs are taken from
// `workingFolder`. Every FILE must be an existing file that is not a folder: a command line
// that names anything else changes nothing.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                             const std::string& workingFolder);

// `path` made absolute against `workingFolder`, without "." or ".." parts or doubled
// separators, so that it still names the file when a folder on the way is gone. A ".." after
// a symbolic link leads, as the system takes it, from the folder the link points to: the path
// up to such a link is resolved. No other link is followed, and the last part never is.
std::string AbsolutePath(const std::string& path, const std::string& workingFolder);

// The text of --help.
std::string UsageText();

// Where a command line that needs no window writes: what it was asked for, and what went
// wrong or asks the user.
struct TextOutput {
    std::function<void(const std::string&)> out, err;
};

// Runs a command line that needs no window (--help, --version, --salvage, one that cannot
// be used) and returns its exit status; nullopt when the windows are to start. The salvage
// asks for a password on standard input when it needs one.
std::optional<int> RunWithoutWindows(const CommandLine& line, const std::string& version,
                                     const TextOutput& output);

}  // namespace vantory
