#pragma once

// Carrying a file into the storage folder and back out of it, sealed or plain.
//
// A sealed stored file holds Seal(content, password) followed by CR LF; the sealed text uses
// only the codes 59..122, so the file is one line. An empty original gives a stored file of
// CR LF alone. When unsealing, a final CR LF is dropped and any other content is taken whole.
//
// Files are streamed in pieces of about a mebibyte, so memory stays small whatever the size
// of the file, and the bytes written are those of sealing or unsealing the whole content as
// one text. Every file written goes to a private temporary file beside its target and
// replaces the target only once it is complete and flushed to disk. A pacer given here is
// ticked while a file is sealed or unsealed, and counts the bytes read of the file in hand
// where it keeps a count (Pacer::countBytesIn).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/pacer.h"
#include "cipher/stream_sealer.h"
#include "platform/platform.h"
#include "store/program_state.h"

namespace vantory {

using platform::Status;

// Files are read in pieces of this many bytes: a multiple of 3 and of 4, about a mebibyte.
inline constexpr size_t kSealedCopyPiece = 3 * 4 * 87381;

// Seals the file `source` into the stored file `target`, which gets `attributes` before it
// replaces an existing `target`. Missing folders above `target` are created (0700). The stored
// file records the owner's permission bits of `source` (read among them) with its attributes,
// and a file unsealed from it gets them back; where nothing is recorded, an unsealed file is
// 0600.
Status sealFile(const std::string& source, const std::string& target, std::string_view key,
                Pacer* pacer = nullptr, int attributes = platform::kStoredAttributes);

// Unseals the stored file `source` into `target` (the bits recorded with the attributes of
// `source`, or `recorded` when they are cleared already; `attributes`), likewise; with
// Existing::kKeep an existing `target` is kept and the unsealing fails with EEXIST.
Status unsealFile(const std::string& source, const std::string& target, std::string_view key,
                  Pacer* pacer = nullptr, int attributes = platform::kNormal,
                  platform::Existing existing = platform::Existing::kReplace,
                  std::optional<platform::FileMode> recorded = std::nullopt);

// Re-keys a sealed stored file in one pass: unseals `source` under `oldKey` and seals the
// content under `newKey` into `target` (which keeps the bits recorded with `source`), which
// may be `source` itself. Nothing else is written
// to disk; `target` is replaced only once the new file is complete.
Status resealFile(const std::string& source, const std::string& target, std::string_view oldKey,
                  std::string_view newKey, Pacer* pacer = nullptr,
                  int attributes = platform::kStoredAttributes);

// Whether `file` holds the content of the stored file `stored` (sealed under `key`, or
// plain), byte for byte; nullopt, with `error`, when either cannot be read.
std::optional<bool> storedContentIs(const std::string& stored, const std::string& file, bool sealed,
                                    std::string_view key, Status& error);

// Stores `strInitFile` as `strEndFile` under the password of `state`. Sealed
// (bolEncryptFile): the sealed content is written to `strEndFile` and `strInitFile` stays as
// it is. Plain: the file is moved there (ShellFileOp move). Either way the stored file ends
// with attributes 7 and an earlier file at `strEndFile` is replaced only by a complete new
// one. On failure nothing is lost: the source stays, and so does an earlier destination.
// `pacer` is ticked while the file is sealed.
Status encryptFileCopy(const ProgramState& state, const std::string& strInitFile,
                       const std::string& strEndFile, bool bolEncryptFile, Pacer* pacer = nullptr);

// Brings the stored file `strInitFile` back as `strEndFile`. Its attributes are cleared first.
// Sealed (bolDecryptFile): the unsealed content is written to `strEndFile` (the bits recorded
// at the hide, else 0600; no attributes) and the stored file stays where it is. Plain: the stored
// file is moved there. On failure the stored file keeps its attributes and an earlier destination
// is kept. With Existing::kKeep a file already at `strEndFile` is never replaced: that gives
// EEXIST, and the folders of a plain move go into `unsynced` when given, for the caller to sync
// (see platform::movePathKeeping). `pacer` is ticked while the file is unsealed; the caller shows
// the wait cursor around a plain move.
Status decryptFileCopy(const ProgramState& state, const std::string& strInitFile,
                       const std::string& strEndFile, bool bolDecryptFile,
                       platform::Existing existing = platform::Existing::kReplace,
                       std::vector<std::string>* unsynced = nullptr, Pacer* pacer = nullptr);

// Sealed copies written one after another and made durable together. Each seal() or unseal()
// writes one file whole into a private temporary file beside its target; commit() flushes
// them all, then renames each over its target in the order they were added and syncs each
// folder once. Flushing files back to back costs the disk far less than a flush, a rename and
// a folder sync for each file in turn. Until commit() nothing shows under a target, and a
// crash leaves only temporary files, which the next start deletes. Destroying a batch that
// was not committed removes its temporary files.
class CopyBatch {
  public:
    // How many files, or bytes, one commit should take at most.
    static constexpr size_t kFullFiles = 256;
    static constexpr uint64_t kFullBytes = uint64_t{64} << 20;

    // Seals and unseals under the password of `state`, ticking `pacer` while a file is sealed.
    explicit CopyBatch(const ProgramState& state, Pacer* pacer = nullptr);
    ~CopyBatch();
    CopyBatch(const CopyBatch&) = delete;
    CopyBatch& operator=(const CopyBatch&) = delete;

    // encryptFileCopy's sealing, up to the commit: `target` will replace an earlier file.
    Status seal(const std::string& source, const std::string& target);
    // decryptFileCopy's unsealing (the bits recorded, else 0600; no attributes), up to the commit:
    // `target` will never replace a file (EEXIST at the commit). The stored file's attributes are
    // left alone.
    Status unseal(const std::string& source, const std::string& target);
    // resealFile's re-keying, up to the commit: `target` will replace an earlier file.
    Status reseal(const std::string& source, const std::string& target, std::string_view oldKey,
                  std::string_view newKey);

    size_t size() const { return files_.size(); }
    uint64_t bytes() const { return bytes_; }
    // Whether the batch is as large as one commit should be.
    bool full() const { return files_.size() >= kFullFiles || bytes_ >= kFullBytes; }
    // Whether a file of the batch is to appear under `target`.
    bool holds(const std::string& target) const {
        return std::find(targets_.begin(), targets_.end(), target) != targets_.end();
    }

    // Flushes and commits the files in the order added, ticking `pacer` after each flush,
    // and empties the batch. One status per file, in that order: the first file that fails
    // stops the commit, and it and every later file get its error and are not committed.
    std::vector<Status> commit(Pacer* pacer = nullptr);
    // Removes the temporary files of the batch and empties it, committing nothing.
    void discard();

  private:
    using WriteTemporary = std::function<Status(platform::AtomicFile&)>;
    Status add(const std::string& target, platform::FileMode mode, platform::Existing existing,
               const WriteTemporary& write);

    const ProgramState& state_;
    Pacer* pacer_;
    std::vector<std::unique_ptr<platform::AtomicFile>> files_;
    std::vector<std::string> targets_;  // of each file
    uint64_t bytes_ = 0;
};

}  // namespace vantory
