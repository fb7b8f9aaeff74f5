#pragma once

// The file-system primitives every command uses: a stubborn but bounded delete, a rename that
// replaces its target, and the shell's move.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "cipher/pacer.h"
#include "platform/platform.h"

namespace vantory {

using platform::Status;

// What stands at `path` when it is there but is no regular file: "a symbolic link", "a
// folder", "something other than a file". "" for a regular file and for nothing at all.
std::string NotAFile(const std::string& path);

// Why a stored file cannot be used, in words, when its stored name holds no regular file
// (it is missing, or something that Vantory never stored stands there); "" when it can.
std::string StoredFileProblem(const std::string& stored);

// How long RemoveFile keeps trying to delete a file that refuses.
inline constexpr std::chrono::milliseconds kRemoveFileLimit{3000};

// Deletes the file at `path`: its attributes are cleared first, so read-only, hidden and
// system files go too, then the delete is tried again, with a tick of `pacer` and a short
// pause between attempts, until nothing is at the path or `limit` has passed.
// Succeeds when nothing is at the path (at once for a missing path). Otherwise returns the
// last error: at once when no retry can help (a folder at the path, a read-only file system,
// a path that cannot be examined), after `limit` for the rest.
Status RemoveFile(const std::string& path, Pacer* pacer = nullptr,
                  std::chrono::milliseconds limit = kRemoveFileLimit);

// Renames `source` to `destination`, replacing an existing destination (whatever its
// attributes) in one step, so a failed rename leaves both as they were. The source's
// attributes are cleared, and the file keeps them cleared under its new name; on failure
// they are put back. Works within one file system: across file systems it fails with EXDEV.
Status RenameFile(const std::string& source, const std::string& destination);

// The shell's move of `source` to `destination` (platform::movePath: replaces, creates
// missing folders, works across file systems). The caller shows the wait cursor around it.
Status ShellFileOp(const std::string& source, const std::string& destination);

// The folders of `folder` and above that do not exist yet, deepest first (a closing separator
// is ignored). A root is its own parent ("/", "C:\\", a drive that is not there): the walk
// ends there.
std::vector<std::string> MissingFolders(const std::string& folder);

// Removes those of `folders` that are empty, the deeper before the shallower, so that a chain
// made for nothing goes whole; a folder that holds something stays.
void RemoveEmptyFolders(std::vector<std::string> folders);

}  // namespace vantory
