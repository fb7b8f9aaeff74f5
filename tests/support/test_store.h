#pragma once

#include <string>

#include "store/program_state.h"
#include "support/temp_folder.h"

namespace vantory::test {

// Settles a user in `dir`: XDG_CONFIG_HOME points into it, and `state` gets the settings
// folder made there, `password`, `extension` and the storage folder <dir>/store/ (made too).
// A folder that cannot be made fails the test; wrap the call in ASSERT_NO_FATAL_FAILURE.
void settleUser(const TempFolder& dir, ProgramState& state, const std::string& password = "secret",
                const std::string& extension = "dat");

}  // namespace vantory::test
