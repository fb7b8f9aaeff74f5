#pragma once

// Hide File(s): each picked file goes into the storage folder under the name of the next
// catalogue position, sealed or moved as the encrypt-when-hiding flag says, and becomes a new
// entry at the end of the catalogue.

#include <functional>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "platform/platform.h"

namespace vantory {

// A file of the selection that was not hidden, and why.
struct NotHidden {
    std::string path;
    std::string reason;
};

struct HideReport {
    size_t hidden = 0;                 // entries added
    std::vector<NotHidden> notHidden;  // in selection order; each was left where it was
    platform::Status saveFailure;      // the first failure to write the settings file
    // Files Vantory had stored that its list does not name, found under the names needed:
    // where each was set aside, or why it stayed, in words.
    std::vector<std::string> setAside;
};

// `listChanged` runs once the catalogue holds its final entries, before any message is shown,
// so that the window can show the new list first.

// The click on Hide File(s): asks for files in the file-open dialog and hides them. Cancel
// does nothing at all.
HideReport AddFiles(CommandContext& context, const std::function<void()>& listChanged = {});

// Hides `paths` in their order as one selection, inside the busy state:
// - a file the existence test does not see (gone, a folder, hidden or system) stops the
//   selection there: it and the files after it are not hidden;
// - an entry is added only when its file was stored; a file that could not be stored is
//   left where it was and the rest of the selection goes on;
// - the catalogue never grows past kMaxCatalogueEntries;
// - a file that Vantory stored but its list does not name (a list cut short), under the name
//   a file needs, is set aside into the recovered folder as the salvage does; anything else
//   under that name stops the selection there;
// - files are hidden in batches (up to 256 files or 64 MiB). A plain hide (the file itself
//   moves into storage) saves the batch's entries before its moves and takes an entry back,
//   with those after it, when its move fails (the later files are tried again), so a crash
//   at any point leaves each file either in its place or listed. A sealed hide leaves the
//   originals in place: a batch's copies are flushed together, an entry is added once its
//   copy is committed, and the list is saved once at the end.
// The files not hidden, and a settings file that could not be written, are told in one
// message after the busy state has ended. An empty selection does nothing.
HideReport HideSelection(CommandContext& context, const std::vector<std::string>& paths,
                         const std::function<void()>& listChanged = {});

}  // namespace vantory
