#include "commands/command_line.h"

#include <algorithm>
#include <filesystem>
#include <optional>

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

}  // namespace

std::string AbsolutePath(const std::string& path, const std::string& workingFolder) {
    const std::string joined = !path.empty() && path[0] == '/' ? path : workingFolder + "/" + path;
    std::string result;  // "" stands for the root
    size_t start = 0;
    while (start <= joined.size()) {
        size_t end = joined.find('/', start);
        if (end == std::string::npos) {
            end = joined.size();
        }
        const std::string part = joined.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part != "..") {
            result += "/" + part;
            continue;
        }
        // The system takes ".." after a link from the folder the link points to.
        if (platform::isSymbolicLink(result)) {
            std::error_code error;
            const std::filesystem::path target =
                std::filesystem::canonical(platform::fsPath(result), error);
            if (!error) {
                result = platform::pathString(target);
            }
        }
        result.erase(std::min(result.rfind('/'), result.size()));
    }
    return result.empty() ? "/" : result;
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
            if ((*storage)[0] != '/' && workingFolder.empty()) {
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
        if (file[0] != '/' && workingFolder.empty()) {
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
