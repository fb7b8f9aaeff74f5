#pragma once

// The operating system behind one small header: the settings folder, file attributes,
// files written whole, moves and removals, and the single-instance lock. Paths are byte
// strings taken literally: UTF-8 where the system wants text (Windows), turned into its own
// form only inside the platform's source file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantory::platform {

// Permission bits for files and folders the program creates (0600, 0700). Windows has none:
// there they are not used, and what is created takes the access list of its folder.
using FileMode = unsigned;

// An open file: a descriptor on POSIX systems, a HANDLE on Windows; kNoFile when none.
#if defined(_WIN32)
using NativeFile = void*;
inline constexpr NativeFile kNoFile = nullptr;
#else
using NativeFile = int;
inline constexpr NativeFile kNoFile = -1;
#endif

// The outcome of an operating-system call: 0 or the errno it failed with (on Windows the
// system's error is translated to the errno of the same meaning).
struct [[nodiscard]] Status {
    int error = 0;

    bool ok() const { return error == 0; }
    std::string message() const;  // the system's text for the error
    static Status success() { return {}; }
    static Status fromErrno();
};

// File attributes as the rest of the program knows them.
enum Attribute : int { kNormal = 0, kReadOnly = 1, kHidden = 2, kSystem = 4 };
inline constexpr int kStoredAttributes = kReadOnly | kHidden | kSystem;

// Where Vantory keeps its settings, without a closing separator: $XDG_CONFIG_HOME/vantory
// when XDG_CONFIG_HOME is an absolute path, else ~/.config/vantory on POSIX systems and the
// user's roaming application-data folder + \\vantory on Windows (where XDG_CONFIG_HOME is
// honoured too, so that tests never touch the real settings).
std::string settingsFolder();

// Creates the folder (one level) with the given mode when it is missing.
Status ensureFolder(const std::string& path, FileMode mode = 0700);
Status makeFolder(const std::string& path, FileMode mode = 0700);

// A regular file itself: a symbolic link is none, whatever it points to.
bool isRegularFile(const std::string& path);
bool isFolder(const std::string& path);
bool pathExists(const std::string& path);  // anything at all, without following a last link
std::optional<uint64_t> fileSize(const std::string& path);

// Attributes 0..7 of the file itself, or nullopt when it cannot be seen; a symbolic link is
// never followed (nullopt, and ELOOP from setAttributes). On Windows they are the file's own
// attributes (setting them keeps the others, such as archive). Elsewhere the value lives in an
// extended attribute so it follows the file through renames; read-only also shows in the
// permission bits. A file given any attributes (a stored file) is private to its owner, and
// clearing them gives back the permission bits it had before, which the extended attribute
// records too. Where the file system refuses extended attributes only read-only is kept, and
// clearing gives the owner's bits with write permission.
std::optional<int> getAttributes(const std::string& path);
Status setAttributes(const std::string& path, int attributes);

// The permission bits of the file itself (a symbolic link is not followed), and those recorded
// beside its attributes, which clearing them gives back. nullopt when the file cannot be seen
// or nothing is recorded (no attributes, an earlier version's record, a file system without
// extended attributes), and always on Windows, which has no permission bits.
std::optional<FileMode> permissionBits(const std::string& path);
std::optional<FileMode> recordedPermissionBits(const std::string& path);

// Takes every permission of group and others off the folder (links followed); nothing on
// Windows, where a folder is private through its access list.
Status makePrivateFolder(const std::string& path);

// A regular file that is neither hidden nor system.
bool fileExists(const std::string& path);

// What a rename, move or copy does with a file already at its destination: replace it, or
// fail with EEXIST and leave both files as they are.
enum class Existing { kReplace, kKeep };

// Deletes a file, whatever its read-only attribute (as unlink(2) does); EISDIR for a folder.
// On Windows a file that another program holds open gives EBUSY.
Status removeFile(const std::string& path);
// rename(2), on Windows MoveFileEx with write-through: replaces an existing destination (a
// read-only one too); fails with EXDEV across file systems.
Status renamePath(const std::string& from, const std::string& to);
// Makes a finished rename or creation in `folder` durable. On Windows the renames are
// written through already and the file system journals the rest, so this does nothing.
void syncFolder(const std::string& folder);

// The separator the program puts into the paths it makes: '/', on Windows '\\'.
#if defined(_WIN32)
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// Whether `c` separates folders in a path: '/', on Windows '\\' too.
constexpr bool isSeparator(char c) {
#if defined(_WIN32)
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// Split at the last separator: '/', on Windows '\\' too. The parent of a file in a root folder
// is that root ("/", "C:\\"); "" for a bare name.
std::string parentFolder(const std::string& path);
std::string baseName(const std::string& path);
// The path without the separators that close it; a root folder alone keeps its own.
std::string withoutClosingSeparators(std::string path);

// Whether `path` starts at the root of a file system: "/..." on POSIX systems; on Windows a
// drive's root ("C:\\...") or a share ("\\\\server\\share", then the end or a separator), with
// either separator. "C:x", "\\x" and "\\\\server" alone lead nowhere fixed and are not.
bool isAbsolutePath(const std::string& path);

// A folder for this user's local sockets that no one else can reach: $XDG_RUNTIME_DIR when it
// is a folder (not a link) owned by the user without access for group or others; else
// <temporary folder>/vantory-<user id>, made 0700 when missing and checked the same way.
// nullopt, with the reason in `why`, when neither is such a folder. On Windows, whose local
// sockets are named pipes and live in no folder, always nullopt.
std::optional<std::string> privateRuntimeFolder(std::string* why = nullptr);

// A file written whole: the content goes to a new, private temporary file beside the target
// (created exclusively) and replaces the target only in commit(), after it is flushed to
// disk. Destroying an uncommitted AtomicFile removes the temporary file. With
// Existing::kKeep, commit() fails with EEXIST when something is at the target by then.
class AtomicFile {
  public:
    explicit AtomicFile(std::string target, FileMode mode = 0600,
                        Existing existing = Existing::kReplace);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    Status open();
    Status write(const void* data, size_t size);
    Status write(std::string_view data) { return write(data.data(), data.size()); }
    // Flush (unless flush() has), rename over the target, then sync the folder unless the
    // caller does that itself, once for several files (syncFolder).
    Status commit(bool syncTheFolder = true);
    // Flushes the content to disk ahead of commit(). Files flushed one after the other, then
    // committed and their folder synced once, cost the disk much less than a commit each.
    // Only the content and the size are flushed: the attributes, which the store check sets
    // again at every start, are left to the system.
    Status flush();
    // Asks the system to start writing to disk what was written so far, without waiting for
    // it, so that the flush in commit() has less left to do. It also lets the system drop from
    // its page cache what is already on disk: a large file then passes through a few
    // megabytes of the cache instead of filling it, and its later pages reuse the freed ones.
    void writeBehind();
    void discard();
    const std::string& temporaryPath() const { return temporaryPath_; }
    // The open temporary file, for the platform layer's own use (times set through it on
    // Windows stay when it is closed).
    NativeFile native() const { return fd_; }

  private:
    std::string target_;
    FileMode mode_;
    Existing existing_;
    std::string temporaryPath_;
    NativeFile fd_ = kNoFile;
    Status failure_;         // the first write error; commit() reports it
    uint64_t written_ = 0;   // bytes written to the temporary file
    uint64_t dropFrom_ = 0;  // the page cache before this offset has been dropped
    bool flushed_ = false;   // by flush()
};

// The longest name, in bytes, that a file system takes for one file (Windows counts UTF-16
// units, never more than the bytes).
inline constexpr size_t kLongestName = 255;
// An AtomicFile's temporary file is ".<target>.vantory-XXXXXX" beside its target, with at most
// this many bytes of the target's name, so that it stays within kLongestName.
inline constexpr size_t kTemporaryNameRoom = 200;
// `name` inside `folder`, with one separator between them.
std::string joinPath(const std::string& folder, const std::string& name);
// The temporary name of `target` up to its six unique letters and digits.
std::string atomicFilePrefix(const std::string& target);
// The name of the target whose AtomicFile temporary file is called `name` (a bare name; a long
// target name is shortened in it), or nullopt when `name` is not such a temporary name.
std::optional<std::string> atomicFileTarget(std::string_view name);

Status writeFileAtomically(const std::string& path, std::string_view content, FileMode mode = 0600);
// A regular file's whole content, opened as InputFile opens it (never through a symbolic link);
// nullopt, with the error in `status`, when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path, Status* status = nullptr);

// Creates a new empty file under a name that starts with `prefix` and is not yet present,
// and returns that name (or nullopt with the error). The file is created exclusively, 0600.
std::optional<std::string> createUniqueFile(const std::string& prefix, Status* status = nullptr);

// Turns the echo of what is typed on standard input off or on, when standard input is a
// terminal (a console on Windows); false when it is not one.
bool echoTypedInput(bool on);
// One line of standard input, without its line end; nullopt at the end of the input. On a
// terminal what is typed is not shown, as for a password.
std::optional<std::string> readUnshownLine();

// An exclusive lock on a file in `folder`, held until the process ends.
enum class LockResult { kAcquired, kHeldElsewhere, kFailed };
LockResult lockInstance(const std::string& folder);

// An exclusive lock on the file `name` in `folder`, held until release() or the end of the
// lock (or of the process). Any second lock on that file is refused, in this process too: each
// lock is an open of its own. The file is made (hidden where the system can mark it so) when
// missing, and deleted on release, so a folder given up is left without it.
class FolderLock {
  public:
    FolderLock() = default;
    ~FolderLock() { release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    LockResult acquire(const std::string& folder, const std::string& name);
    void release();
    bool held() const { return file_ != kNoFile; }
    // The folder as acquire() was given it.
    const std::string& folder() const { return folder_; }

  private:
    std::string folder_;
    std::string path_;
    NativeFile file_ = kNoFile;
};

// What lstat finds at `path`: success when something is there (a last link is not followed),
// else the error (ENOENT when nothing is, ENOTDIR when a folder on the way is a file).
Status probePath(const std::string& path);
bool isSymbolicLink(const std::string& path);

// Whether `a` and `b` name one file, whatever their spelling: the same device and inode (on
// Windows the same volume and file id). A last link is not followed, except in a path that
// ends in a separator, which names the folder it leads to. False when either is not there.
bool sameFile(const std::string& a, const std::string& b);

// Creates the folder and every missing folder above it, each with `mode`.
Status makeFolders(const std::string& path, FileMode mode = 0700);

// Copies the regular file `from` to `to`. The copy is written to a private temporary file
// beside `to`, given the permission bits, the attributes and the times of `from`, flushed to
// disk, and only then renamed over `to`. Missing folders above `to` are created (0700). A
// failure leaves `to` as it was.
Status copyFile(const std::string& from, const std::string& to,
                Existing existing = Existing::kReplace);

// Moves `from` to `to`, replacing an existing `to` and creating missing folders above it
// (0700). Within one file system this is rename(2). Across file systems a regular file is
// copied as copyFile does (content, permission bits, attributes, times), and `from` is
// removed only once the copy is complete and flushed; other kinds of files give EXDEV. A
// failure leaves `from` in place; should `from` refuse removal after a complete copy, the
// copy is removed again (unless it replaced an earlier `to`) and the error is returned.
Status movePath(const std::string& from, const std::string& to);
// The same, except that an existing `to` is kept and the move fails with EEXIST. With
// `unsynced`, the folders of a rename, and the source's folder of a copy, are added to it
// (once each) instead of being synced now: many moves then cost one sync of each folder,
// which the caller does (syncFolder) before anything relies on them. A copy itself is
// flushed, its folder too, before its source is deleted.
Status movePathKeeping(const std::string& from, const std::string& to,
                       std::vector<std::string>* unsynced = nullptr);

// Memory for the pieces of a file read, and of what is written for it: a buffer of at least
// `size` bytes that the calling thread keeps for its next call with the same use, its content
// left as it was. Files handled one after another share it; a buffer of its own for each
// would be mapped and given back, or the heap grown and trimmed, at a cost that for small
// files is as large as that of the file itself.
enum class Scratch { kInput, kOutput };
uint8_t* scratchBuffer(Scratch use, size_t size);

// A regular file read from its start to its end in large pieces.
class InputFile {
  public:
    InputFile() = default;
    ~InputFile() { close(); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens a regular file for reading, never through a symbolic link: ELOOP for a link,
    // EISDIR for a folder, EINVAL for other kinds of files.
    Status open(const std::string& path);
    // Reads up to `size` bytes and sets `got`; fewer than `size` only at the end of the file.
    Status read(void* buffer, size_t size, size_t& got);
    // Lets the system drop from its page cache what has been read so far. A file read once
    // from start to end then passes through a small part of the cache, and the pages it frees
    // are the ones the written copy reuses, instead of fresh memory.
    void dropRead();
    void close();

  private:
    NativeFile fd_ = kNoFile;
    std::string path_;      // as opened, for the fault hook
    uint64_t read_ = 0;     // bytes read
    uint64_t dropped_ = 0;  // the page cache has been dropped up to here
};

// What stands at a path; a last link is not followed.
enum class PathKind { kNothing, kRegularFile, kLink, kFolder, kOther };
PathKind pathKind(const std::string& path);

// Copies what is left of `in` into `out`, a mebibyte at a time.
Status copyContent(InputFile& in, AtomicFile& out);

// Advice that the `size` bytes at `start`, a buffer about to be filled, be backed by huge
// pages where the system offers them; nothing happens where it does not.
void adviseHugePages(void* start, size_t size);

}  // namespace vantory::platform
