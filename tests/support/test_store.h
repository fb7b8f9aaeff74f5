#pragma once

#include <string>

#include "store/program_state.h"
#include "support/temp_folder.h"

namespace vantory::test {

// Settles a user in `dir` (XDG_CONFIG_HOME points there): `state` gets the settings folder,
// `password`, `extension` and the storage folder <dir>/store/, both made. Wrap the call in
// ASSERT_NO_FATAL_FAILURE: a folder that cannot be made fails the test.
void settleUser(const TempFolder& dir, ProgramState& state, const std::string& password = "secret",
                const std::string& extension = "dat");

}  // namespace vantory::test
