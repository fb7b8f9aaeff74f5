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
// Settings lines that cannot be read (the password, storage folder or extension) leave no
// sound way on: nothing is changed then, and the report says why.

#include <string>
#include <vector>

#include "commands/ui_services.h"
#include "store/program_state.h"

namespace vantory {

struct SalvageResult {
    bool ok = false;                 // done, or nothing to do; false: something could not be
    std::vector<std::string> lines;  // what was found and done, for the user
};

// Salvages the settings file in the settings folder. ui.previousInstanceRunning() must take
// the single-instance lock: a running Vantory keeps everything as it is.
SalvageResult SalvageSettings(ProgramState& state, UiServices& ui);

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
