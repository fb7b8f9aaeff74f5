#pragma once

// Changing the access password. The password is also the key of every sealed stored file and
// of the catalogue lines, so a change re-seals all of them, and it happens all or nothing:
//
//   1. A record of the change is written beside regInfo.lst ("preparing"), naming the stored
//      files about to be re-keyed.
//   2. Every sealed stored file is re-sealed under the new password into a new file beside
//      it, complete and flushed. The stored files themselves are not touched yet. Should one
//      of them fail, the new files are removed along with the record and nothing has changed.
//   3. The record is replaced by one that names the new password and every new file with the
//      stored file it replaces ("committed"). From here on the change goes forward.
//   4. The new files are renamed over the stored files, regInfo.lst is saved with the new
//      password, and the record is removed.
//
// A record left by a crash is dealt with at the next start: a preparing one by removing the
// new files, a committed one by finishing steps 3 and 4.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/command_context.h"
#include "platform/platform.h"
#include "store/password_change_record.h"
#include "store/result.h"

namespace vantory {

using platform::Status;

// The click handler's work: asks for the new password twice and changes it when both
// answers agree, inside the busy state, then says how it went.
void ChangePassCommand(CommandContext& context);

struct ChangePassOutcome {
    enum class Result {
        kChanged,     // every file re-keyed, regInfo.lst saved with the new password
        kNotChanged,  // nothing changed: files, settings and password are as they were
        kUnfinished,  // committed, but a rename or the save failed; finished at next start
    };
    Result result = Result::kNotChanged;
    vantory::Result status;                // the failure, when there was one
    std::optional<size_t> failedPosition;  // the catalogue entry whose file failed
    std::string failedPath;                // the file that failed, or the record
    std::string problem;                   // kUnfinished: what is left to do, in words
    bool settingsSaved = false;            // kUnfinished: regInfo.lst names the new password
    std::string note;  // kChanged: stored files sealed again from their old copies, in words
};

// For a change of password left unfinished: which password the next start asks for.
std::string NextStartPasswordNote(bool settingsSaved);

// Re-seals every sealed stored file under `strNewPass` and saves regInfo.lst with it, as
// described above. Advances intProgress per catalogue entry (intProgressTotal = entries).
// Yields to the window system after each entry and after each step of the commit, so the
// busy window keeps moving. On kChanged and kUnfinished the state holds the new password.
ChangePassOutcome ChangePass(CommandContext& context, const std::string& strNewPass);

// What CompletePasswordChange did with the record of a change.
struct PendingPasswordChange {
    enum class Result {
        kNone,        // there was no record
        kUnreadable,  // the record cannot be read; it and the stored files were left alone
        kUndone,      // the change had not been committed: what it left behind was removed
        kNotUndone,   // not committed, but its storage folder is not there to clear; kept
        kFinished,    // a committed change was finished
        kUnfinished,  // a committed change could still not be finished; the record stays
    };
    Result result = Result::kNone;
    bool switched = false;       // kFinished: the password in use changed to the recorded one
    Status status;               // kUnfinished: why
    std::string failedPath;      // kUnfinished: the file that stands in the way
    std::string problem;         // kUnfinished: what stands in the way, in words
    bool settingsSaved = false;  // kUnfinished: regInfo.lst names the new password
    std::string note;            // kFinished: as ChangePassOutcome::note
};

// Removes what a change that had not been committed left behind, or finishes a committed
// one (the state then holds its new password), without telling the user.
PendingPasswordChange CompletePasswordChange(CommandContext& context);

// At start, after the catalogue has been read: CompletePasswordChange, then tells the user
// what was done.
void FinishInterruptedPasswordChange(CommandContext& context);

}  // namespace vantory
