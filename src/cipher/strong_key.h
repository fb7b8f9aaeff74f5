#pragma once

// The keys of a strong store. A random master key seals every stored file (each under a key
// of its own, derived from the master key); the password only unlocks the master key. The
// store keeps the master key wrapped: sealed with ChaCha20-Poly1305 under a key that Argon2id
// stretches from the password with a random salt and recorded costs. Nothing else on disk
// depends on the password, so a wrong password shows only as a wrap that does not open, and a
// new password re-wraps the same master key.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cipher/aead.h"
#include "cipher/crypto_library.h"

namespace vantory {

inline constexpr size_t kMasterKeySize = 32;
inline constexpr size_t kSaltSize = 16;

// Argon2id's costs: passes over the memory, KiB of memory, lanes.
struct KdfParameters {
    uint32_t passes = 3;
    uint32_t memoryKib = 64 * 1024;
    uint32_t lanes = 1;
    bool operator==(const KdfParameters&) const = default;
};

// The costs a store may record: anything outside is refused before any memory is taken, so a
// damaged or hostile record cannot make a login ask for gigabytes.
inline constexpr uint32_t kMaxKdfPasses = 64;
inline constexpr uint32_t kMaxKdfMemoryKib = 1024 * 1024;
inline constexpr uint32_t kMaxKdfLanes = 16;
bool acceptableKdfParameters(const KdfParameters& parameters);

// Argon2id (version 0x13) of `password` and `salt`, with the optional secret and associated
// data of its definition, into `size` bytes.
SecretBytes argon2id(std::string_view password, std::string_view salt,
                     const KdfParameters& parameters, size_t size, std::string_view secret = {},
                     std::string_view associated = {});

// HKDF (RFC 5869) with HMAC-SHA-256: `size` bytes (at most 255 * 32) from the key material
// `ikm`, `salt` and `info`.
SecretBytes hkdfSha256(const SecretBytes& ikm, std::string_view salt, std::string_view info,
                       size_t size);

// A master key as a store keeps it on disk.
struct WrappedKey {
    KdfParameters kdf;
    std::array<uint8_t, kSaltSize> salt{};
    std::array<uint8_t, kAeadNonceSize> nonce{};
    std::array<uint8_t, kMasterKeySize + kAeadTagSize> sealed{};
    bool operator==(const WrappedKey&) const = default;
};

// A new random master key.
SecretBytes newMasterKey();

// Wraps `masterKey` under `password` with a fresh salt and nonce. The password text is wiped
// once the key is derived from it.
WrappedKey wrapMasterKey(const SecretBytes& masterKey, std::string& password,
                         const KdfParameters& parameters = {});
// The master key of `wrapped`, or nullopt when `password` does not open it (the wrong
// password, or a record changed since it was written). The password text is wiped once the
// key is derived from it.
std::optional<SecretBytes> unwrapMasterKey(const WrappedKey& wrapped, std::string& password);

// The master key of `wrapped` wrapped again under `newPassword`, with the same costs: what a
// change of password writes, which re-seals nothing. nullopt when `oldPassword` does not open
// it. Both password texts are wiped.
std::optional<WrappedKey> rewrapMasterKey(const WrappedKey& wrapped, std::string& oldPassword,
                                          std::string& newPassword);

// Eight bytes that name a master key without giving anything of it away: a stored file
// carries them, so that one sealed under another store's key is told apart from a changed one.
std::array<uint8_t, 8> masterKeyId(const SecretBytes& masterKey);

}  // namespace vantory
