#pragma once

// A seam for tests: every platform operation that changes something on disk, every open of a
// file for reading and every piece read from one first asks a process-wide hook whether to go
// ahead. The hook may fail the operation with an errno of its choice (a full disk, a read-only
// folder) or end the process there (a crash). With no hook set, which is always the case in the
// program, the question costs one relaxed load.

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

namespace vantory::platform {

enum class Operation {
    kCreate,      // a new file: a temporary file, a unique file, a progress file
    kWrite,       // data written to a file being made
    kFlush,       // a finished file flushed to disk
    kRename,      // a rename; `other` is the destination
    kRemove,      // a file unlinked
    kMakeFolder,  // a folder created
    kAttributes,  // attributes, permission bits or times changed
    kProgress,    // a progress file's count changed and flushed
    kRead,        // a file opened for reading; changes nothing
    kReadPiece,   // a piece read from an open file; changes nothing
};

// Returns 0 to let the operation go ahead, or the errno it is to fail with. It is called from
// whichever thread does the operation, so it must be safe to call from several.
using FaultHook =
    std::function<int(Operation operation, std::string_view path, std::string_view other)>;

// What a hook may answer for kReadPiece or kWrite instead of an errno: the open file is swapped
// for one the system refuses to read from, or to write to, and the operation goes ahead, so that
// the system's own error arrives where a real one would (a disk failing part way through).
inline constexpr int kSystemRefuses = -1;

// Sets the hook (an empty one removes it). Not to be called while operations run.
void setFaultHook(FaultHook hook);

namespace detail {
extern std::atomic<bool> faultHookSet;
int callFaultHook(Operation operation, std::string_view path, std::string_view other);
}  // namespace detail

// What the operation about to happen should fail with: 0 to go ahead.
inline int injectedFault(Operation operation, std::string_view path, std::string_view other = {}) {
    if (!detail::faultHookSet.load(std::memory_order_relaxed)) {
        return 0;
    }
    return detail::callFaultHook(operation, path, other);
}

}  // namespace vantory::platform
