#pragma once

// regInfo.lst: three settings lines sealed with SettingsKey (password, storage folder,
// extension), then one line per catalogue entry sealed with the password:
// flag '|' number '|' path, the number being position + 100. Lines end in CR LF.

#include <cerrno>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/pacer.h"
#include "platform/platform.h"
#include "store/catalogue.h"
#include "store/program_state.h"
#include "store/result.h"

namespace vantory {

inline constexpr std::string_view SettingsKey = "3907514482";
inline constexpr const char* kSettingsFileName = "regInfo.lst";
// The number field has three digits, so the layout holds at most 900 entries.
inline constexpr size_t kMaxCatalogueEntries = 900;

using platform::Status;

// Reading regInfo.lst gives Reason::kDamagedSettings when the file is there but does not
// have the layout above: fewer than three lines, characters that no sealed line holds, a last
// line without its CR LF (the file was cut short), a storage folder that is not an absolute
// folder, or a catalogue line that does not unseal to the entry of its position. An empty
// password or extension is not damage: earlier versions could write them.

// The longest text that one line of the settings file holds before sealing: a path on the
// longest the system takes (on Windows 32767 UTF-16 units, each at most three bytes of
// UTF-8), or a typed password or extension (an input box takes 32767 characters).
inline constexpr size_t kLongestSettingsText = 32767 * 3;
// The longest possible regInfo.lst: three settings lines and kMaxCatalogueEntries entries,
// each of the longest text. A larger file is refused (kSettingsTooLarge) without being read
// whole.
inline constexpr size_t kMaxSettingsFileSize =
    (kMaxCatalogueEntries + 3) * ((6 + kLongestSettingsText + 2) / 3 * 4 + 2);

// The lines of a settings file, each without its line end; empty lines after the third are
// dropped from the end. `cut` tells whether the file (not empty) fails to end in CR LF: its
// last line was then cut short.
std::vector<std::string_view> SettingsFileLines(std::string_view content, bool& cut);

// The three settings of `lines` (as SettingsFileLines gives them) into `state`, or
// kDamagedSettings, with `state` unchanged, when they are not three whole settings lines
// naming an absolute storage folder.
Result SettingsFromLines(const std::vector<std::string_view>& lines, bool cut, ProgramState& state,
                         Pacer* pacer = nullptr);

// The entry that the sealed catalogue line `line` holds for `position`, or nullopt when it is
// not the entry of that position.
std::optional<CatalogueEntry> CatalogueEntryOf(std::string_view line, size_t position,
                                               std::string_view password, Pacer* pacer = nullptr);

// The whole settings file at `path`, read only when it is no larger than
// kMaxSettingsFileSize (kSettingsTooLarge otherwise, and for a file that grows past it while
// read). With `keepStart`, a larger file gives its first kMaxSettingsFileSize bytes and
// kSettingsTooLarge.
std::optional<std::string> ReadSettingsFile(const std::string& path, Result& result,
                                            bool keepStart = false);

// Whether `folder` can be the storage folder: an absolute folder path ending in a separator.
bool IsStorageFolderPath(std::string_view folder);

// Why regInfo.lst cannot be used, in words: that it is damaged (or too large to be Vantory's),
// or the system's reason.
std::string SettingsFileProblem(const Result& result);
// Whether the problem is damage to the file's content, which `vantory --salvage` deals with.
inline bool IsSettingsDamage(const Result& result) {
    return result.is(Reason::kDamagedSettings) || result.is(Reason::kSettingsTooLarge);
}

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
Status WriteFactorySettings(const ProgramState& state, Pacer* pacer = nullptr);

// Reads the three settings lines into the password, storage folder and extension. On
// failure (kDamagedSettings for a damaged file, kSettingsTooLarge for one too large) nothing
// in `state` changes.
Result ReadSettings(ProgramState& state, Pacer* pacer = nullptr);

// Writes the whole settings file from the state and the catalogue, replacing the old file
// only once the new one is complete. Leaves intProgress at the entry count + 1. Refuses a
// catalogue longer than kMaxCatalogueEntries (EFBIG) and writes nothing then.
Status saveList(ProgramState& state, const Catalogue& catalogue, Pacer* pacer = nullptr);

// Appends the entries of the settings file's catalogue lines to `catalogue`. A missing,
// unreadable or damaged file (kDamagedSettings: a line that is not the entry of its position,
// which would shift every later entry onto another entry's stored file, or a file cut short)
// adds nothing. Empty lines at the end of the file are not entries.
Result loadList(const ProgramState& state, Catalogue& catalogue, Pacer* pacer = nullptr);

// The catalogue line of entry `position` before sealing.
std::string CatalogueLine(size_t position, const CatalogueEntry& entry);

// True for a regular file that is neither hidden nor system.
bool FileExists(const std::string& path);

// The text lines of a file: CR LF, LF or CR end a line; a last line needs no line end.
std::vector<std::string> SplitLines(std::string_view content);
// The same lines as views into `content`.
std::vector<std::string_view> SplitLineViews(std::string_view content);

}  // namespace vantory
