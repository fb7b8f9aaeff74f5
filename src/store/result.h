#pragma once

// What an operation of the program gave: done, refused for a reason of the program's own
// (a damaged settings file, an earlier operation still on record, …), or failed with the
// system's error. The reasons are the program's words; Status is the system's.

#include <string>

#include "platform/platform.h"

namespace vantory {

using platform::Status;

enum class Reason {
    kNone,              // no reason of the program's own: `status` says how it went
    kDamagedSettings,   // regInfo.lst is there but does not hold what Vantory writes
    kSettingsTooLarge,  // regInfo.lst is larger than any settings file Vantory writes
    kListFull,          // the list holds more entries than regInfo.lst can record
    kUnfinishedWork,    // an earlier operation is still on record, to be finished first
    kUnreadableRecord,  // the record of an interrupted operation cannot be read
    kFolderMissing,     // a folder the work needs is not there (a drive not connected)
};

struct [[nodiscard]] Result {
    Reason reason = Reason::kNone;
    Status status;  // the system's error, when there is no reason of the program's own

    Result() = default;
    Result(Status systemStatus) : status(systemStatus) {}  // NOLINT: a system error as it is
    Result(Reason why) : reason(why) {}                    // NOLINT: a reason as it is

    bool ok() const { return reason == Reason::kNone && status.ok(); }
    bool is(Reason why) const { return reason == why; }
    // The reason in words, or the system's text for the error.
    std::string message() const;
};

}  // namespace vantory
