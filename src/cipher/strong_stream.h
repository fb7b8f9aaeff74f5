#pragma once

// The content of a strong stored file, sealed and opened as it streams past.
//
// A strong stored file is a header, the header's tag, then the content in chunks of 64 KiB
// (the last one shorter, or empty for an empty file), each sealed with ChaCha20-Poly1305 and
// followed by its tag. The header holds, in this order:
//
//     magic        8 bytes   0x89 'V' 'A' 'N' 'T' 'O' 'R' 'Y' (never the start of a
//                            classic stored file, whose bytes are all printable)
//     version      1 byte    1
//     key id       8 bytes   masterKeyId() of the key it was sealed under
//     nonce       16 bytes   random, the file's own
//     size         8 bytes   the content's length, most significant byte first
//     binding      1 + n     n, then the n bytes that name its entry (n <= 255)
//
// The file's key is HKDF-SHA-256 of the master key, with the nonce as salt and the header as
// part of the info, so it differs for every file and every entry. The header's tag seals an
// empty text with the header as associated data under the nonce 0...0 2; chunk i is sealed
// under the nonce made of i (11 bytes, most significant first) and a last byte of 1 on the
// last chunk, 0 on the others (the STREAM construction). So a chunk moved, dropped, added or
// taken from another file fails to open, and the size says where the content ends.
//
// The opener hands on a chunk's content only once its tag has matched; the first chunk that
// does not open stops it for good. What it handed on before that is content of the file, but
// not all of it: callers write to a temporary file and keep it only when the opener finished
// without refusal.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cipher/aead.h"
#include "cipher/crypto_library.h"

namespace vantory {

inline constexpr size_t kStrongChunk = 64 * 1024;
inline constexpr size_t kFileNonceSize = 16;
inline constexpr size_t kMaxBindingSize = 255;
// The header without the binding's bytes, and the longest header with its tag.
inline constexpr size_t kStrongHeaderFixed = 8 + 1 + 8 + kFileNonceSize + 8 + 1;
inline constexpr size_t kMaxStrongHeader = kStrongHeaderFixed + kMaxBindingSize + kAeadTagSize;

using FileNonce = std::array<uint8_t, kFileNonceSize>;
FileNonce randomFileNonce();

// The size of a strong stored file for a content of `size` bytes and a binding of
// `bindingSize` bytes.
uint64_t strongFileSize(uint64_t size, size_t bindingSize);

// Why a strong stored file was not written or not opened.
enum class StrongRefusal {
    kNone,
    kNotStrongFile,     // it does not start as a strong stored file does
    kNewerVersion,      // a later version of the format
    kOtherKey,          // sealed under another master key
    kOtherEntry,        // sealed for another entry: stored files were exchanged
    kChanged,           // a tag does not match: its bytes were changed
    kCut,               // it ends before its last chunk does
    kExtended,          // bytes follow its last chunk
    kChangedWhileRead,  // sealing: the content was not as long as its size said
};
// The refusal as the end of a sentence about the file ("... because <words>").
std::string strongRefusalWords(StrongRefusal refusal);

// Seals a content of a size known in advance, given in pieces of any length.
class StrongSealer {
  public:
    // `binding` names the entry the file belongs to (at most kMaxBindingSize bytes).
    StrongSealer(const SecretBytes& masterKey, std::string_view binding, uint64_t size,
                 const FileNonce& nonce = randomFileNonce());
    ~StrongSealer();
    StrongSealer(const StrongSealer&) = delete;
    StrongSealer& operator=(const StrongSealer&) = delete;

    // Most bytes that update() writes for n bytes of content, and that finish() writes.
    static constexpr size_t maxOutput(size_t n) {
        // A chunk carried from earlier pieces may be completed and sealed too.
        return kMaxStrongHeader + kStrongChunk + n + (n / kStrongChunk + 2) * kAeadTagSize;
    }
    static constexpr size_t kMaxFinishOutput = kMaxStrongHeader + kAeadTagSize;

    // Seals the next n bytes of content into `out`; returns the bytes written.
    size_t update(const uint8_t* data, size_t n, uint8_t* out);
    // Writes what is still due (the header and tag of an empty content).
    size_t finish(uint8_t* out);
    // kChangedWhileRead when the content given was longer or shorter than the size; what was
    // written then is no stored file.
    StrongRefusal refusal() const { return refusal_; }

  private:
    size_t sealReady(const uint8_t* chunk, uint8_t* out);
    size_t chunkLength() const;

    std::unique_ptr<ChaCha20Poly1305> aead_;
    std::string header_;  // with its tag, written before the first chunk
    bool headerWritten_ = false;
    uint64_t size_;
    uint64_t given_ = 0;
    uint64_t chunk_ = 0;                // the index of the chunk being filled
    std::unique_ptr<uint8_t[]> carry_;  // a chunk that came in pieces
    size_t carried_ = 0;
    StrongRefusal refusal_ = StrongRefusal::kNone;
};

// Opens a strong stored file given in pieces of any length, checking every byte of it.
class StrongOpener {
  public:
    // The file must have been sealed under `masterKey` (which must outlive the opener) for
    // `binding`.
    StrongOpener(const SecretBytes& masterKey, std::string_view binding);
    ~StrongOpener();
    StrongOpener(const StrongOpener&) = delete;
    StrongOpener& operator=(const StrongOpener&) = delete;

    static constexpr size_t maxOutput(size_t n) { return n + kStrongChunk; }
    static constexpr size_t kMaxFinishOutput = 0;

    // Takes the next n bytes of the file and writes the content of each chunk that opened
    // into `out`; returns the bytes written. Nothing after a refusal.
    size_t update(const uint8_t* data, size_t n, uint8_t* out);
    // The end of the file: kCut unless its last chunk has come.
    size_t finish(uint8_t* out);
    StrongRefusal refusal() const { return refusal_; }
    // The content's size once the header has opened.
    std::optional<uint64_t> size() const;

  private:
    size_t takeHeader(const uint8_t* data, size_t n);
    bool checkHeader();
    size_t openReady(const uint8_t* sealed, uint8_t* out);
    size_t chunkLength() const;

    const SecretBytes& masterKey_;
    std::string binding_;
    std::unique_ptr<ChaCha20Poly1305> aead_;
    std::string header_;     // as it arrives, until the file's key is derived
    size_t headerSize_ = 0;  // the whole header with its tag, once the binding's length came
    uint64_t size_ = 0;
    uint64_t chunk_ = 0;                // the index of the chunk expected
    uint64_t chunks_ = 0;               // how many the size gives
    std::unique_ptr<uint8_t[]> carry_;  // a sealed chunk that came in pieces
    size_t carried_ = 0;
    StrongRefusal refusal_ = StrongRefusal::kNone;
};

}  // namespace vantory
