#pragma once

// Sealing and unsealing texts that arrive in pieces: the bytes written are those of Seal or
// Unseal of the whole text, whatever the pieces.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cipher/pacer.h"

namespace vantory {

// A sealed stored file ends in this CR LF, which is not part of its sealed text.
inline constexpr uint8_t kSealedLineEnd[2] = {'\r', '\n'};

// Seal(text, key) of a text that arrives in pieces of any length.
class Sealer {
  public:
    explicit Sealer(std::string_view key, Pacer* pacer = nullptr);

    // Most bytes that update() writes for n bytes of text, and that finish() writes.
    static constexpr size_t maxOutput(size_t n) { return (n + 2) / 3 * 4; }
    static constexpr size_t kMaxFinishOutput = 3;

    // Seals the next n bytes of the text into `out` and returns how many bytes were written.
    size_t update(const uint8_t* data, size_t n, uint8_t* out);
    // Writes the end of the sealed text (the last one or two bytes of the text).
    size_t finish(uint8_t* out);

  private:
    uint32_t state_;
    Pacer* pacer_;
    uint8_t carry_[3] = {};
    size_t carried_ = 0;
};

// Unseal(text, key) of a sealed text that arrives in pieces of any length.
class Unsealer {
  public:
    explicit Unsealer(std::string_view key, Pacer* pacer = nullptr);

    static constexpr size_t maxOutput(size_t m) { return (m + 3) / 4 * 3; }
    static constexpr size_t kMaxFinishOutput = 2;

    size_t update(const uint8_t* sealed, size_t m, uint8_t* out);
    // Writes what the last incomplete group of four characters stands for.
    size_t finish(uint8_t* out);

  private:
    uint32_t state_;
    Pacer* pacer_;
    uint8_t carry_[4] = {};
    size_t carried_ = 0;
};

// Unseals the content of a sealed stored file as it arrives: the final CR LF, if the content
// ends in one, is not part of the sealed text.
class StoredFileUnsealer {
  public:
    explicit StoredFileUnsealer(std::string_view key, Pacer* pacer = nullptr)
        : unsealer_(key, pacer) {}

    static constexpr size_t maxOutput(size_t n) { return Unsealer::maxOutput(n); }
    static constexpr size_t kMaxFinishOutput = 3 + Unsealer::kMaxFinishOutput;

    size_t update(const uint8_t* content, size_t n, uint8_t* out);
    size_t finish(uint8_t* out);

  private:
    Unsealer unsealer_;
    uint8_t held_[2] = {};  // the last bytes seen, which may be the closing CR LF
    size_t heldCount_ = 0;
};

}  // namespace vantory
