#pragma once

// Run Selected File: a hidden file is opened for a while without being restored.
//
// The first press makes the selected entry's file available in the storage folder under its
// temporary name (TempName): a sealed entry is unsealed into a new private file there, a plain
// entry's stored file is itself renamed. The desktop's default application opens it, and the
// window waits with only the run button (now "Delete Temporary File") and the tab strip in
// reach; when no application can be asked to open it, it is put away again at once. The next
// press removes the unsealed file, or renames the plain file back to its stored name, and hides
// the stored file again. A plain file that cannot be moved back keeps the window waiting for
// another press. No file is ever replaced: one found under the stored
// name keeps the plain file under its temporary name, recorded, as at the start. Every file
// put under a temporary name is recorded (store/open_copies.h) before it is made and until it
// is gone.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "commands/command_context.h"
#include "store/open_copies.h"

namespace vantory {

inline constexpr const char* kRunCaption = "Run Selected File";
inline constexpr const char* kDeleteTemporaryCaption = "Delete Temporary File";
inline constexpr const char* kAttemptingDeleteCaption = "Attempting to delete file...";

class RunCommand {
  public:
    // How long the second press keeps trying to remove the temporary file or move it back.
    static constexpr std::chrono::milliseconds kDefaultWaitLimit{60000};

    // `setCaption` gives the run button a new caption.
    RunCommand(CommandContext& context, std::function<void(const std::string&)> setCaption);

    // cmdShell_Click. `selected` is the selected catalogue position, if any. Runs the first
    // phase when no temporary file is open (nothing happens without a selection), the second
    // one when one is; a press while the second phase is still waiting is ignored.
    void press(std::optional<size_t> selected);

    // A temporary file is open and the next press removes it.
    bool waiting() const;
    // The second phase is under way.
    bool deleting() const { return deleting_; }
    // The temporary file while one is open.
    const std::string& temporaryPath() const { return temporaryPath_; }

    void setWaitLimit(std::chrono::milliseconds limit) { waitLimit_ = limit; }

  private:
    void runPhase(size_t position);
    void deletePhase();
    OpenCopy openCopy() const { return {temporaryPath_, storedPath_, path_, sealed_}; }

    CommandContext& context_;
    std::function<void(const std::string&)> setCaption_;
    std::chrono::milliseconds waitLimit_ = kDefaultWaitLimit;
    bool deleting_ = false;
    bool notOpened_ = false;  // no application took the file the run phase made
    // The entry whose file is open.
    std::string path_;
    bool sealed_ = false;
    std::string storedPath_;
    std::string temporaryPath_;
};

// Deals with the copies that the record of open copies names: a plaintext copy is deleted,
// a plain entry's file is moved back to its stored name (never deleted, never over a file
// that came under that name); each one that stays is reported and stays recorded. `atStart` also
// reports what was done. Returns true when none is left.
bool ResolveOpenCopies(CommandContext& context, bool atStart);

// For the commands that would leave a recorded copy behind (the restores, a new storage
// folder or extension, a change of password): tries to resolve the recorded copies, and when
// one stays shows why the command does nothing, under `title`, and returns true. A file
// found under a stored name is said at once, as it needs the user.
bool RefuseWhileCopiesOpen(CommandContext& context, const std::string& title);

// Clears a name under which a file stands that no record explains (left by an earlier
// version). If it may be the stored file of exactly one plain entry whose stored file is
// missing (same temporary name), it goes back to that stored name. Any other file is moved
// aside to a name of its own in the storage folder, so that nothing removes it later, and
// the user is told where it is. Never deletes. Returns true when nothing is left under the
// name.
bool ClearTemporaryName(CommandContext& context, const std::string& temporaryPath, bool atStart);

// At start, before the store check: resolves the recorded copies, then clears as above the
// temporary name of every catalogue entry where an unrecorded file stands.
void RecoverTemporaryFiles(CommandContext& context);

}  // namespace vantory
