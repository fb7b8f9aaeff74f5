#include "commands/command_line.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "commands/salvage.h"
#include "commands/silent_ui_services.h"
#include "platform/fs_path.h"
#include "platform/platform.h"

namespace vantory {

namespace {

CommandLine invalid(std::string error) {
    CommandLine line;
    line.action = CommandLine::Action::kInvalid;
    line.error = std::move(error);
    return line;
}

// Why `path` cannot be hidden from the command line, or "" when it can be tried.
std::string whyNotAFile(const std::string& path) {
    switch (platform::pathKind(path)) {
        case platform::PathKind::kRegularFile:
            return {};
        case platform::PathKind::kNothing:
            return "no such file";
        case platform::PathKind::kLink:
            return "is a symbolic link; give the file it points to";
        case platform::PathKind::kFolder:
            return "is a folder; only files can be hidden";
        case platform::PathKind::kOther:
            break;
    }
    return "is not a regular file";
}

// The salvage runs without windows; it holds the single-instance lock, so no Vantory starts
// while it works.
struct SalvageUi : SilentUiServices {
    bool previousInstanceRunning(const std::string& folder) override {
        return platform::lockInstance(folder) != platform::LockResult::kAcquired;
    }
};

int salvage(const CommandLine& line, const TextOutput& output) {
    ProgramState state;
    SalvageUi ui;
    SalvageOptions options;
    options.storageFolder = line.storageFolder;
    options.askPassword = [&output](const std::string& why) {
        output.err(why);
        return platform::readUnshownLine();
    };
    const SalvageResult result = SalvageSettings(state, ui, options);
    for (const std::string& text : result.lines) {
        output.out(text + "\n");
    }
    return result.ok ? 0 : 1;
}

}  // namespace

std::optional<int> RunWithoutWindows(const CommandLine& line, const std::string& version,
                                     const TextOutput& output) {
    using Action = CommandLine::Action;
    switch (line.action) {
        case Action::kHelp:
            output.out(UsageText());
            return 0;
        case Action::kVersion:
            output.out("Vantory " + version + "\n");
            return 0;
        case Action::kInvalid:
            output.err("vantory: " + line.error + "\nTry 'vantory --help' for more information.\n");
            return kBadArgumentsExit;
        case Action::kSalvage:
            return salvage(line, output);
        case Action::kStart:
            break;
    }
    return std::nullopt;
}

std::string AbsolutePath(const std::string& path, const std::string& workingFolder) {
    const std::string joined =
        platform::isAbsolutePath(path) ? path : workingFolder + platform::kSeparator + path;
    // What ".." never leaves: the root "/" (kept as ""), on Windows a drive "C:" or a share
    // "\\server\share", each followed by a separator.
    size_t rootEnd = 0;
    if (platform::kSeparator == '\\') {
        if (joined.size() >= 2 && platform::isSeparator(joined[0]) &&
            platform::isSeparator(joined[1])) {
            const auto separatorAfter = [&joined](size_t from) {
                return std::find_if(joined.begin() + static_cast<std::ptrdiff_t>(from),
                                    joined.end(), platform::isSeparator) -
                       joined.begin();
            };
            const size_t server = static_cast<size_t>(separatorAfter(2));
            rootEnd =
                server == joined.size() ? server : static_cast<size_t>(separatorAfter(server + 1));
        } else if (joined.size() >= 2 && joined[1] == ':') {
            rootEnd = 2;
        }
    }
    std::string result = joined.substr(0, rootEnd);
    std::replace_if(result.begin(), result.end(), platform::isSeparator, platform::kSeparator);
    size_t start = rootEnd;
    while (start <= joined.size()) {
        const size_t end =
            static_cast<size_t>(std::find_if(joined.begin() + static_cast<std::ptrdiff_t>(start),
                                             joined.end(), platform::isSeparator) -
                                joined.begin());
        const std::string part = joined.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part != "..") {
            result += platform::kSeparator + part;
            continue;
        }
        // POSIX systems take ".." after a link from the folder the link points to; Windows
        // takes every ".." by the letters of the path.
        if (platform::kSeparator == '/' && platform::isSymbolicLink(result)) {
            std::error_code error;
            const std::filesystem::path target =
                std::filesystem::canonical(platform::fsPath(result), error);
            if (!error) {
                result = platform::pathString(target);
            }
        }
        result.erase(
            std::max(rootEnd, std::min(result.rfind(platform::kSeparator), result.size())));
    }
    return result.size() == rootEnd ? result + platform::kSeparator : result;
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                             const std::string& workingFolder) {
    CommandLine line;
    bool hideGiven = false;
    bool salvageGiven = false;
    bool optionsEnded = false;
    std::optional<std::string> storage;
    std::vector<std::string> named;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            named.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--hide") {
            hideGiven = true;
        } else if (argument == "-h" || argument == "--help") {
            line.action = CommandLine::Action::kHelp;
        } else if (argument == "--salvage") {
            salvageGiven = true;
        } else if (argument == "--storage") {
            if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
                return invalid("--storage needs a FOLDER");
            }
            storage = arguments[++i];
        } else if (argument == "-v" || argument == "--version") {
            if (line.action != CommandLine::Action::kHelp) {
                line.action = CommandLine::Action::kVersion;
            }
        } else {
            return invalid("unknown option '" + argument + "'");
        }
    }
    if (line.action != CommandLine::Action::kStart) {
        return line;
    }
    if (salvageGiven) {
        if (hideGiven || !named.empty()) {
            return invalid("--salvage takes no FILE");
        }
        line.action = CommandLine::Action::kSalvage;
        if (storage) {
            if (!platform::isAbsolutePath(*storage) && workingFolder.empty()) {
                return invalid(*storage +
                               ": the working folder cannot be read, so this path leads nowhere");
            }
            const std::string folder = AbsolutePath(*storage, workingFolder);
            if (!platform::isFolder(folder)) {
                return invalid(*storage + ": no such folder");
            }
            line.storageFolder = platform::joinPath(folder, "");
        }
        return line;
    }
    if (storage) {
        return invalid("--storage goes with --salvage");
    }
    if (hideGiven && named.empty()) {
        return invalid("--hide needs at least one FILE");
    }
    for (const std::string& file : named) {
        if (file.empty()) {
            return invalid("an empty FILE name");
        }
        if (!platform::isAbsolutePath(file) && workingFolder.empty()) {
            return invalid(file +
                           ": the working folder cannot be read, so this path leads nowhere");
        }
        const std::string path = AbsolutePath(file, workingFolder);
        if (const std::string why = whyNotAFile(path); !why.empty()) {
            return invalid(file + ": " + why);
        }
        line.files.push_back(path);
    }
    return line;
}

std::string UsageText() {
    return "Usage: vantory [--hide] [FILE...]\n"
           "       vantory --salvage [--storage FOLDER]\n"
           "Hides files behind an access password.\n"
           "\n"
           "Vantory starts and asks for its password; then it hides each FILE as Hide File(s)\n"
           "does: a sealed copy goes into storage when \"Encrypt File(s) When Hiding Them\" is\n"
           "ticked, otherwise the file itself moves there. When Vantory is running already,\n"
           "the files are handed to it and hidden there.\n"
           "\n"
           "Options:\n"
           "  --hide FILE...  hide the files (the same as naming them alone)\n"
           "  --salvage       when the settings file is damaged: keep it as regInfo.lst.damaged,\n"
           "                  write a new one listing every entry that can still be read, and\n"
           "                  put the stored files of the others into a \"recovered\" folder\n"
           "                  beside the storage folder (unsealed where they are sealed).\n"
           "                  When the password, storage folder or extension line itself is\n"
           "                  damaged, it asks for the password and rebuilds them from the\n"
           "                  stored files in the storage folder that line still names, else\n"
           "                  in the settings folder\n"
           "  --storage FOLDER  with --salvage: the stored files are in FOLDER\n"
           "  -h, --help      print this help and exit\n"
           "  -v, --version   print the version and exit\n"
           "  --              every argument after this one is a FILE\n";
}

}  // namespace vantory
