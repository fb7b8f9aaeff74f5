#pragma once

// `vantory --salvage`: the way out of a damaged settings file, run without the windows.
//
// A start refuses a regInfo.lst that is damaged, since going on with it would restore files to
// cut paths or hide new files over listed ones. The salvage keeps that file as
// regInfo.lst.damaged (a free name: an earlier copy is never replaced) and writes a new
// regInfo.lst that lists every whole entry, in the old order. Each entry keeps its own stored
// file: the entry at old position p is stored as p + 100, and when damaged entries before it
// drop out its stored file is renumbered with it (one journalled plan, as the store check
// does). The stored files that no whole entry explains (those of damaged entries, and of
// entries cut off the end) go into a folder "recovered" beside the storage folder, as
// "recovered-<stored name>"; one that looks sealed is also unsealed with the password there,
// as "recovered-<number>-unsealed". Nothing is replaced or deleted.
//
// Settings lines that cannot be read (the password, storage folder or extension) are rebuilt:
// the storage folder is the one given, else the one the storage line still names, else the
// settings folder, whichever holds stored files (numbered names that carry the stored
// attributes); the extension is the one most of them have, and the password is asked for.
// When catalogue lines are left, a password that opens none of them is refused. The stored
// files that no entry explains then go to the recovered folder as above: without its entry
// neither the password nor whether a file is sealed can be checked, and a restore under a
// wrong guess would delete the only copy.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "commands/ui_services.h"
#include "store/program_state.h"

namespace vantory {

struct SalvageResult {
    bool ok = false;                 // done, or nothing to do; false: something could not be
    std::vector<std::string> lines;  // what was found and done, for the user
};

struct SalvageOptions {
    // The folder that holds the stored files, ending in a separator; "" to look for them.
    std::string storageFolder;
    // Asks for the password, with the reason given; nullopt when none is given. Asked only
    // when the settings lines are rebuilt.
    std::function<std::optional<std::string>(const std::string& why)> askPassword;
};

// Salvages the settings file in the settings folder. ui.previousInstanceRunning() must take
// the single-instance lock: a running Vantory keeps everything as it is.
SalvageResult SalvageSettings(ProgramState& state, UiServices& ui,
                              const SalvageOptions& options = {});

// The folder that receives the stored files of damaged entries: "recovered" beside `storageDir`.
std::string RecoveredFolder(const std::string& storageDir);

// Whether `path` is a file Vantory stored, by the look of it: a regular file with the stored
// attributes 7 recorded, or, where a file system keeps only read-only, a read-only one with
// the shape of a sealed file. A file of the user's that merely has a stored name is neither.
bool LooksStoredByVantory(const std::string& path);

// The files that look stored by Vantory under the stored names past the first `entries`
// positions: what a list cut short at the end of a line leaves unlisted, as it reads whole.
std::vector<std::string> UnlistedStoredFiles(const ProgramState& state, size_t entries);

// Moves the stored file `stored` into the recovered folder, as the salvage does with the files
// of damaged entries, never over a file there. True when it moved; `said` tells where it went
// (and where its unsealed copy is), or why it stayed.
bool SetStoredFileAside(const ProgramState& state, const std::string& stored, std::string& said);

}  // namespace vantory
