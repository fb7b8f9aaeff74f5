#pragma once

// Restore Selected File(s) and Restore All Files: hidden files go back to the paths they were
// hidden from, and their entries leave the catalogue.
//
// A restore never replaces a file. When a file already stands at an entry's path and holds
// the entry's content, the entry counts as restored without writing anything; when its
// content differs, the hidden file comes back beside it as `<name> (restored).<ext>` (then
// `(restored 2)`, ...), and one message lists each such pair. A plain entry whose stored name
// is its own path is the file there: it is given its attributes back where it is, and nothing
// is deleted. Missing folders on the way are made again (0700), and a message names them.
//
// Both work in two passes. First every chosen entry's file is brought back; an entry whose
// file does not come back (its folder is gone, the destination refuses the file, the stored
// copy is missing or unreadable) stays in the catalogue with its stored copy untouched. Then
// the entries that came back leave the catalogue and the stored files of the remaining ones
// are renumbered, all in one journalled pass, so that a crash at any point never separates
// an entry from its stored file. The end result is that of removing the restored entries one
// by one, renumbering the later stored files after each; no stored file of a restored entry
// is left behind.

#include <functional>
#include <string>
#include <vector>

#include "commands/command_context.h"

namespace vantory {

struct RestoreOutcome {
    // The catalogue positions, as they are afterwards, of the entries whose files could not
    // be put back and are still hidden, ascending.
    std::vector<size_t> stillHidden;
    // Something was done (false only when there was no current item).
    bool ran = false;
};

// cmdRestoreFile_Click. `current` is the list's current position (-1 when there is none:
// then nothing happens at all); `selected` the selected positions, ascending. With a current
// item but nothing selected, no file is restored and the settings file is written again.
// Shows one message naming the files that did not come back, and none on success.
// `listChanged` runs once the catalogue has its new contents, before any message.
using ListChanged = std::function<void(const RestoreOutcome&)>;
RestoreOutcome RestoreSelected(CommandContext& context, int current,
                               const std::vector<size_t>& selected,
                               const ListChanged& listChanged = {});

// `<name> (restored).<ext>` beside `path` for n = 1, then `<name> (restored n).<ext>`.
std::string RestoredBesideName(const std::string& path, int n);
// Names tried beside a file before a restore gives up on it.
inline constexpr int kBesideNames = 100;

// cmdRestore_Click: restores every entry, as above.
RestoreOutcome RestoreAll(CommandContext& context, const ListChanged& listChanged = {});

}  // namespace vantory
