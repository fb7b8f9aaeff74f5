#include "cipher/aead.h"

#include <gcrypt.h>

#include <cstdio>
#include <cstdlib>

#include "cipher/gcrypt_check.h"

namespace vantory {

ChaCha20Poly1305::ChaCha20Poly1305(const SecretBytes& key) {
    useCryptoLibrary();
    checkCrypto(gcry_cipher_open(&handle_, GCRY_CIPHER_CHACHA20, GCRY_CIPHER_MODE_POLY1305,
                                 GCRY_CIPHER_SECURE),
                "opening ChaCha20-Poly1305");
    checkCrypto(gcry_cipher_setkey(handle_, key.data(), key.size()), "setting the key");
}

ChaCha20Poly1305::~ChaCha20Poly1305() {
    gcry_cipher_close(handle_);
}

void ChaCha20Poly1305::start(const uint8_t* nonce, const uint8_t* aad, size_t aadSize) {
    checkCrypto(gcry_cipher_setiv(handle_, nonce, kAeadNonceSize), "setting the nonce");
    if (aadSize != 0) {
        checkCrypto(gcry_cipher_authenticate(handle_, aad, aadSize), "adding associated data");
    }
    checkCrypto(gcry_cipher_final(handle_), "marking the last piece");
}

void ChaCha20Poly1305::seal(const uint8_t* nonce, const uint8_t* aad, size_t aadSize,
                            const uint8_t* text, size_t n, uint8_t* out) {
    start(nonce, aad, aadSize);
    if (n != 0) {
        checkCrypto(text == out ? gcry_cipher_encrypt(handle_, out, n, nullptr, 0)
                                : gcry_cipher_encrypt(handle_, out, n, text, n),
                    "sealing");
    }
    checkCrypto(gcry_cipher_gettag(handle_, out + n, kAeadTagSize), "taking the tag");
}

bool ChaCha20Poly1305::open(const uint8_t* nonce, const uint8_t* aad, size_t aadSize,
                            const uint8_t* sealed, size_t n, uint8_t* out) {
    start(nonce, aad, aadSize);
    if (n != 0) {
        checkCrypto(sealed == out ? gcry_cipher_decrypt(handle_, out, n, nullptr, 0)
                                  : gcry_cipher_decrypt(handle_, out, n, sealed, n),
                    "opening");
    }
    // The tag follows the text in `sealed`; opened in place, the text before it changed, the
    // tag did not.
    if (gcry_cipher_checktag(handle_, sealed + n, kAeadTagSize) != 0) {
        wipeBytes(out, n);
        return false;
    }
    return true;
}

}  // namespace vantory
