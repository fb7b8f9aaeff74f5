#include "session/captions.h"

namespace vantory {

std::string MainCaption() {
    return std::string(kProductName) + " v" + std::to_string(kVersionMajor) + "." +
           std::to_string(kVersionMinor);
}

std::string StorageLabelText(const ProgramState& state) {
    return std::string(kStorageHelp) + "   Current directory is " + state.strStorageDir;
}

std::string ExtensionLabelText(const ProgramState& state) {
    return std::string(kExtensionHelp) + "   Current extension is " + state.strExtension;
}

}  // namespace vantory
