// Reads back what the program left on disk, for run_e2e.sh (usage at the end of main).
#include <cstdio>
#include <string>
#include <vector>

#include "cipher/cipher.h"
#include "platform/platform.h"
#include "store/program_state.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"

namespace {

using namespace vantory;

int fail(const std::string& what, const platform::Status& status) {
    std::fprintf(stderr, "vantory_e2e_check: %s: %s\n", what.c_str(), status.message().c_str());
    return 1;
}

// The settings lines are decoded without judging the storage folder, which is a path of the
// system that wrote the file (run_e2e_windows.sh reads a settings file written under wine).
int settings(const std::string& folder, const std::string& password) {
    ProgramState state;
    state.strSystemDir = folder;
    const auto content = platform::readWholeFile(SettingsPath(state));
    bool cut = false;
    const auto lines = content ? SettingsFileLines(*content, cut) : std::vector<std::string_view>{};
    if (cut || lines.size() < 3) {
        std::fprintf(stderr, "settings: %s is missing or cut short\n", SettingsPath(state).c_str());
        return 1;
    }
    std::printf("password %s\nstorage %s\nextension %s\n", Unseal(lines[0], SettingsKey).c_str(),
                Unseal(lines[1], SettingsKey).c_str(), Unseal(lines[2], SettingsKey).c_str());
    for (size_t i = 3; i < lines.size(); ++i) {
        std::printf("line %s\n", Unseal(lines[i], password).c_str());
    }
    return 0;
}

int unseal(const std::string& stored, const std::string& output, const std::string& password) {
    const platform::Status status = unsealFile(stored, output, password);
    return status.ok() ? 0 : fail(stored, status);
}

int attributes(const std::string& path) {
    const auto value = platform::getAttributes(path);
    std::printf("%s\n", value ? std::to_string(*value).c_str() : "none");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "settings") {
        return settings(args[1], args[2]);
    }
    if (args.size() == 4 && args[0] == "unseal") {
        return unseal(args[1], args[2], args[3]);
    }
    if (args.size() == 2 && args[0] == "attributes") {
        return attributes(args[1]);
    }
    std::fprintf(stderr, "usage: vantory_e2e_check settings|unseal|attributes ...\n");
    return 2;
}
