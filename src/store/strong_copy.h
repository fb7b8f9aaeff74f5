#pragma once

// Strong stored files on disk: a file sealed into the storage folder and opened back out of it
// with the strong stream (cipher/strong_stream.h), streamed a mebibyte at a time through
// buffers that one StrongCopier keeps from file to file. Every file is written to a private
// temporary file beside its target and replaces the target only once it is complete, flushed,
// and (when opening) every chunk of it has opened: a refused stored file leaves nothing behind
// and never yields a partial or altered copy.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cipher/crypto_library.h"
#include "cipher/pacer.h"
#include "cipher/strong_stream.h"
#include "platform/platform.h"
#include "store/piece_writer.h"

namespace vantory {

using platform::Status;

// How a strong seal or open went: done, refused for what the file holds, or failed with the
// system's error.
struct [[nodiscard]] StrongOutcome {
    StrongRefusal refusal = StrongRefusal::kNone;
    Status status;

    bool ok() const { return refusal == StrongRefusal::kNone && status.ok(); }
    // Why, in words: the refusal's, or the system's text for the error.
    std::string message() const;
};

class StrongCopier {
  public:
    // Files are read in pieces of this many bytes: whole chunks, about a mebibyte.
    static constexpr size_t kPiece = 16 * kStrongChunk;

    // Seals under `masterKey` (kept by reference: it must outlive the copier), ticking `pacer`
    // after each piece and counting the bytes read where it keeps a count.
    explicit StrongCopier(const SecretBytes& masterKey, Pacer* pacer = nullptr);
    ~StrongCopier();
    StrongCopier(const StrongCopier&) = delete;
    StrongCopier& operator=(const StrongCopier&) = delete;

    // Seals `source` into `target` for the entry `binding`; `target` (made with `mode` and
    // given `attributes`) replaces an earlier file. Missing folders above it are made (0700).
    // kChangedWhileRead when the source's length changed while it was read.
    StrongOutcome seal(const std::string& source, const std::string& target,
                       std::string_view binding, platform::FileMode mode = 0600,
                       int attributes = platform::kStoredAttributes);
    // Opens the strong stored file `source`, sealed for `binding`, into `target` (made with
    // `mode`); with Existing::kKeep an existing `target` is kept (EEXIST).
    StrongOutcome open(const std::string& source, const std::string& target,
                       std::string_view binding, platform::FileMode mode = 0600,
                       platform::Existing existing = platform::Existing::kReplace);

  private:
    template <class Stream>
    StrongOutcome stream(const std::string& source, platform::AtomicFile& out, Stream& transform);

    const SecretBytes& masterKey_;
    Pacer* pacer_;
    std::unique_ptr<uint8_t[]> input_;
    // What the piece writer writes from; a file read in one piece goes through the first.
    PieceBuffers output_;
};

}  // namespace vantory
