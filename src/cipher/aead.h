#pragma once

// ChaCha20-Poly1305 (RFC 8439) through libgcrypt, one key and many messages: the key is set
// once and the library's state, kept in secure memory, is reused for each message.

#include <cstddef>
#include <cstdint>

#include "cipher/crypto_library.h"

struct gcry_cipher_handle;  // libgcrypt's, whose header stays inside cipher/

namespace vantory {

inline constexpr size_t kAeadKeySize = 32;
inline constexpr size_t kAeadNonceSize = 12;
inline constexpr size_t kAeadTagSize = 16;

class ChaCha20Poly1305 {
  public:
    // `key` holds kAeadKeySize bytes.
    explicit ChaCha20Poly1305(const SecretBytes& key);
    ~ChaCha20Poly1305();
    ChaCha20Poly1305(const ChaCha20Poly1305&) = delete;
    ChaCha20Poly1305& operator=(const ChaCha20Poly1305&) = delete;

    // Seals n bytes of `text` into `out` (n bytes, which may be `text` itself) followed by
    // the tag (kAeadTagSize bytes), under `nonce` and with `aad` authenticated alongside.
    void seal(const uint8_t* nonce, const uint8_t* aad, size_t aadSize, const uint8_t* text,
              size_t n, uint8_t* out);
    // Opens n sealed bytes followed by their tag into `out` (n bytes, or `sealed` itself).
    // False when the tag does not match: `out` is then wiped, and nothing of it may be used.
    bool open(const uint8_t* nonce, const uint8_t* aad, size_t aadSize, const uint8_t* sealed,
              size_t n, uint8_t* out);

  private:
    void start(const uint8_t* nonce, const uint8_t* aad, size_t aadSize);

    ::gcry_cipher_handle* handle_ = nullptr;
};

}  // namespace vantory
