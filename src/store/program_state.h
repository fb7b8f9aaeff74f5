#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "cipher/pacer.h"
#include "platform/platform.h"

namespace vantory {

// The values every window shares, one set per process. None of the flags is saved.
struct ProgramState {
    std::string strSystemDir;      // the settings folder, without a closing separator
    std::string strPassword;       // access password; key of the catalogue and sealed files
    std::string strStorageDir;     // storage folder, ends in '/'
    std::string strExtension;      // storage extension, without the dot
    int16_t intProgress = 0;       // 1-based item being worked on; the busy window shows it - 1
    int16_t intProgressTotal = 0;  // items of the running operation
    FileBytes fileBytes;           // of the file in hand, counted while it is sealed or unsealed
    bool bolSlowRun = false;       // yield to the window system during long sealing
    bool bolBusy = false;          // an operation is running
    bool bolTempFileOpen = false;  // a hidden file is open under its temporary name
    bool bolEncrypt = false;       // seal files when hiding them
    // This copy's lock on its storage folder, while it holds one; copies of the state share it.
    std::shared_ptr<platform::FolderLock> storageLock;
};

// `n` as a progress counter: the counters hold at most INT16_MAX.
inline int16_t ProgressCount(size_t n) {
    return static_cast<int16_t>(std::min<size_t>(n, INT16_MAX));
}

// Factory settings, written when there is no settings file.
inline constexpr const char* kFactoryPassword = "kumquat";
inline constexpr const char* kFactoryExtension = "txt";

void SetPassword(ProgramState& state, const std::string& password);
void SetExtension(ProgramState& state, const std::string& extension);

// When long work in the store hands control back to the window system: `slowRun` is ticked
// while text is sealed and is null when Slow Run is off; `always` is ticked in loops that may
// take long whatever Slow Run says. A null pacer never yields.
struct Pacing {
    Pacer* slowRun = nullptr;
    Pacer* always = nullptr;
};

}  // namespace vantory
