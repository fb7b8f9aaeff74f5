#pragma once

// Copies that Vantory made and no longer needs (the sealed copy of a restored file) are
// deleted as soon as the list no longer names them. One that refuses to go, or whose folder
// is away, is written down here, so that it is deleted later instead of staying unlisted
// under a name the next hide needs.

#include <string>
#include <vector>

#include "cipher/pacer.h"
#include "store/catalogue.h"
#include "store/program_state.h"

namespace vantory {

std::string LeftoverCopiesPath(const ProgramState& state);

// Deletes each of `paths`, a few at once, ticking `pacer` meanwhile; those that stay are
// added to the record.
void DeleteOwnCopies(const ProgramState& state, const std::vector<std::string>& paths,
                     Pacer* pacer = nullptr);

// Deletes the recorded copies that are still there. A path that is now the stored file of an
// entry of `catalogue` is only taken off the record.
void DeleteLeftoverCopies(const ProgramState& state, const Catalogue& catalogue);

}  // namespace vantory
