#pragma once

// The cryptographic library behind the strong store (libgcrypt), set up once per process, and
// the two things every user of it needs: random bytes and secrets that are wiped.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantory {

// Sets the library up on first use (its version check, a pool of memory that is never
// swapped out, its notes kept off the terminal); later calls do nothing. Every function of
// the strong store calls it, so callers need not.
void useCryptoLibrary();

// `n` bytes from the library's generator, seeded by the system, fit for keys and nonces.
void fillRandom(uint8_t* bytes, size_t n);

// Overwrites `n` bytes in a way the compiler cannot leave out.
void wipeBytes(void* bytes, size_t n);
// Overwrites the whole of a string's storage, then empties it: for password text once a key
// has been derived from it.
void wipeString(std::string& text);

// A secret of a fixed size in the library's secure memory (never swapped out where the system
// allows it), wiped when it goes. Moves leave the source empty; secrets are never copied.
class SecretBytes {
  public:
    SecretBytes() = default;
    explicit SecretBytes(size_t size);
    SecretBytes(const uint8_t* from, size_t size);
    ~SecretBytes();
    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;

    uint8_t* data() { return bytes_; }
    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool operator==(const SecretBytes& other) const;

  private:
    void release();

    uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
};

// SHA-256 of `text`, for checksums of records that a key protects otherwise.
std::array<uint8_t, 32> sha256(std::string_view text);

// Lower-case hexadecimal of `bytes`, and back: false, with `bytes` unchanged, for text that is
// not pairs of lower-case hexadecimal digits.
std::string toHex(const uint8_t* bytes, size_t n);
bool fromHex(std::string_view hex, std::string& bytes);

}  // namespace vantory
