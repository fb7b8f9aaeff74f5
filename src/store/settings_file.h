#pragma once

// regInfo.lst: three settings lines sealed with SettingsKey (password, storage folder,
// extension), then one line per catalogue entry sealed with the password:
// flag '|' number '|' path, the number being position + 100. Lines end in CR LF.

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "store/catalogue.h"
#include "store/program_state.h"
#include "ui/ui_services.h"

namespace vantory {

inline constexpr std::string_view SettingsKey = "3907514482";
inline constexpr const char* kSettingsFileName = "regInfo.lst";
// The number field has three digits, so the layout holds at most 900 entries.
inline constexpr size_t kMaxCatalogueEntries = 900;

using platform::Status;

// What reading regInfo.lst gives when the file is there but does not have the layout above:
// fewer than three lines, characters that no sealed line holds, or a catalogue line that does
// not unseal to the entry of its position.
inline constexpr int kDamagedSettings = EILSEQ;

// Why regInfo.lst cannot be used, in words: that it is damaged, or the system's reason.
std::string SettingsFileProblem(const Status& status);

std::string SettingsPath(const ProgramState& state);

// Fills strSystemDir with the settings folder, creating it (0700) when missing and taking the
// permissions of group and others off it when it is found open to them. A failure to do that
// is returned with the folder in place.
Status GetSysDir(ProgramState& state);

// Sets strStorageDir to `folder` (ending in '/'), then makes sure the folder can be used:
// when it is missing its last level is created (0700). A failure of that creation is
// returned (ENOENT when the parent is missing too); the setting keeps the new folder anyway.
Status SetStorageDir(ProgramState& state, const std::string& folder);

// Writes the settings file with the three settings lines only.
Status WriteFactorySettings(const ProgramState& state, UiServices& ui);

// Reads the three settings lines into the password, storage folder and extension. On
// failure (kDamagedSettings for a damaged file) nothing in `state` changes.
Status ReadSettings(ProgramState& state, UiServices& ui);

// Writes the whole settings file from the state and the catalogue, replacing the old file
// only once the new one is complete. Leaves intProgress at the entry count + 1. Refuses a
// catalogue longer than kMaxCatalogueEntries (EFBIG) and writes nothing then.
Status saveList(ProgramState& state, const Catalogue& catalogue, UiServices& ui);

// Appends the entries of the settings file's catalogue lines to `catalogue`. A missing,
// unreadable or damaged file (kDamagedSettings: a line that is not the entry of its position,
// which would shift every later entry onto another entry's stored file) adds nothing. Empty
// lines at the end of the file are not entries.
Status loadList(const ProgramState& state, Catalogue& catalogue, UiServices& ui);

// The catalogue line of entry `position` before sealing.
std::string CatalogueLine(size_t position, const CatalogueEntry& entry);

// True for a regular file that is neither hidden nor system.
bool FileExists(const std::string& path);

// The text lines of a file: CR LF, LF or CR end a line; a last line needs no line end.
std::vector<std::string> SplitLines(std::string_view content);

}  // namespace vantory
