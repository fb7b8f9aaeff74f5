#pragma once

// A sealed hide writes its copies first and lists them all in one save at the end, so a
// crash in between leaves complete copies in storage that no entry lists, under the names
// the next hide needs. Before the first copy, the hide writes this record beside the
// settings file: where the copies go and which files were picked. The next start (or the
// next command) then knows those copies for Vantory's own and can take them back.

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "store/program_state.h"

namespace vantory {

struct HideRecord {
    std::string storageDir;
    std::string extension;
    size_t firstPosition = 0;         // the catalogue position of the first copy
    std::vector<std::string> picked;  // the files picked, in the order they are hidden
};

std::string HideRecordPath(const ProgramState& state);

// Written whole, sealed under the password like the settings it describes.
platform::Status WriteHideRecord(const ProgramState& state, const HideRecord& record);
// nullopt when there is none; `readable` false when one is there but cannot be read.
std::optional<HideRecord> ReadHideRecord(const ProgramState& state, bool& readable);
platform::Status RemoveHideRecord(const ProgramState& state);

}  // namespace vantory
