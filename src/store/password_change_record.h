#pragma once

// The record of a change of password in progress, beside regInfo.lst, and the new files the
// change writes beside the stored files it re-keys ("100.txt.vantory-rekey-XXXXXX"). A record
// left by a crash says, at the next start, whether those new files are to be removed
// (preparing) or renamed over the stored files (committed).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "store/program_state.h"

namespace vantory {

using platform::Status;

// The record, beside regInfo.lst.
std::string PasswordChangeRecordPath(const ProgramState& state);

// What the record holds. Its lines are sealed with the settings key, like the settings lines:
// the record must be readable whichever password the user logs in with.
struct PasswordChangeRecord {
    struct Rename {
        std::string from;  // the re-sealed new file
        std::string to;    // the stored file it replaces
        // The first bytes of `from`; absent in records written before they were kept.
        std::optional<std::string> head;

        bool operator==(const Rename&) const = default;
    };
    bool committed = false;
    // Preparing: the storage folder and the names of the stored files being re-keyed.
    std::string storageDir;
    std::vector<std::string> names;
    // Committed: the new password and the renames still to make, and the old password, under
    // which a stored file stays until its rename (absent in records written before it was kept).
    std::string password;
    std::vector<Rename> renames;
    std::optional<std::string> oldPassword;

    bool operator==(const PasswordChangeRecord&) const = default;
};

// The record's text, and back: nullopt for a text that is not such a record.
std::string EncodePasswordChangeRecord(const PasswordChangeRecord& record);
std::optional<PasswordChangeRecord> DecodePasswordChangeRecord(std::string_view content);

// Replaces the record with `record`, complete and flushed; reads it back (nullopt when it is
// missing or unreadable); removes it.
Status WritePasswordChangeRecord(const ProgramState& state, const PasswordChangeRecord& record);
std::optional<PasswordChangeRecord> ReadPasswordChangeRecord(const ProgramState& state);
void RemovePasswordChangeRecord(const ProgramState& state);

// A new, empty file beside the stored file `stored` to re-seal it into, named after it (the
// start of a long name).
std::optional<std::string> CreateRekeyedFile(const std::string& stored, Status& error);
// The first bytes of a re-sealed file, by which it is known once renamed (IsRekeyed).
std::optional<std::string> RekeyedHead(const std::string& path);
// Whether the stored file `rename.to` is the re-sealed file once renamed over it.
bool IsRekeyed(const PasswordChangeRecord::Rename& rename);

// Removes from `folder` every new file, finished or half written, that a change of the
// stored files `names` may have left.
void RemoveRekeyLeftovers(const std::string& folder, const std::vector<std::string>& names);

}  // namespace vantory
