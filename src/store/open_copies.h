#pragma once

// Run Selected File puts a hidden file under a temporary name in the storage folder while an
// application has it open: a plaintext copy of a sealed entry, or a plain entry's stored
// file itself. Each such file is recorded here, beside the settings file, before it is made
// and until it is gone or back under its stored name, so that every start finds it whatever
// the list holds by then.

#include <string>
#include <vector>

#include "platform/platform.h"
#include "store/program_state.h"

namespace vantory {

struct OpenCopy {
    std::string temporaryPath;
    std::string storedPath;  // where a plain entry's file goes back to
    std::string entryPath;   // the hidden file's own path, for messages
    bool sealed = false;     // a plaintext copy (deleted) rather than the file itself (moved back)

    bool operator==(const OpenCopy&) const = default;
};

std::string OpenCopiesPath(const ProgramState& state);

// Written whole, sealed under the password; an empty list removes the record.
platform::Status WriteOpenCopies(const ProgramState& state, const std::vector<OpenCopy>& copies);
// The recorded copies; `readable` false when a record is there but cannot be read.
std::vector<OpenCopy> ReadOpenCopies(const ProgramState& state, bool& readable);

}  // namespace vantory
