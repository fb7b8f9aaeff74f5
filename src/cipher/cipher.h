#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cipher/pacer.h"
#include "cipher/runtime_random.h"

namespace vantory {

// Work is done in blocks of this many input bytes (a multiple of 3 and of 4) between pacer
// ticks; small enough to stay in cache, large enough that ticking costs nothing.
inline constexpr size_t kCipherBlock = 3 * 4 * 4096;

// The keyed text cipher. Texts are byte strings: every character is one 8-bit code.
// Sealing XORs the text with a key stream drawn from the runtime generator after seeding it
// from the key, then stretches the result into printable codes 59..122 (a third longer).
// An optional pacer is ticked between blocks so that long texts keep the windows live.
class Cipher {
  public:
    explicit Cipher(Pacer* pacer = nullptr) : pacer_(pacer) {}

    // Stores the key and seeds the generator from it; the key stream depends on the key alone.
    void KeyString(std::string_view key);
    void Text(std::string text) { text_ = std::move(text); }
    const std::string& Text() const { return text_; }

    // XORs every character of the working text with the next key-stream byte.
    void DoXor();
    // Replaces the working text by its printable form.
    void Stretch();
    // Replaces the working text (a printable form) by the text it stands for.
    void Shrink();

    // The generator state after seeding, for code that applies the key stream itself.
    uint32_t keyStreamState() const { return random_.state(); }

  private:
    void SeedFromKey();

    Pacer* pacer_;
    std::string key_;
    std::string text_;
    RuntimeRandom random_;
};

// The generator state that follows seeding from `key`; streaming code starts its XOR here.
uint32_t KeyStreamStart(std::string_view key, Pacer* pacer = nullptr);

std::string Seal(std::string_view text, std::string_view key, Pacer* pacer = nullptr);
std::string Unseal(std::string_view text, std::string_view key, Pacer* pacer = nullptr);

}  // namespace vantory
