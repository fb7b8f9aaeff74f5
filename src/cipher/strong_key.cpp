#include "cipher/strong_key.h"

#include <gcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "cipher/gcrypt_check.h"

namespace vantory {

namespace {

constexpr size_t kHashSize = 32;  // SHA-256

// HMAC-SHA-256 of the pieces under `key`, into `out` (kHashSize bytes).
void hmacSha256(const uint8_t* key, size_t keySize,
                std::initializer_list<std::pair<const void*, size_t>> pieces, uint8_t* out) {
    gcry_mac_hd_t mac = nullptr;
    checkCrypto(gcry_mac_open(&mac, GCRY_MAC_HMAC_SHA256, GCRY_MAC_FLAG_SECURE, nullptr), "HMAC");
    checkCrypto(gcry_mac_setkey(mac, key, keySize), "HMAC key");
    for (const auto& [data, size] : pieces) {
        if (size != 0) {
            checkCrypto(gcry_mac_write(mac, data, size), "HMAC input");
        }
    }
    size_t length = kHashSize;
    checkCrypto(gcry_mac_read(mac, out, &length), "HMAC result");
    gcry_mac_close(mac);
}

void putBigEndian32(std::string& to, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        to += static_cast<char>(value >> shift);
    }
}

// What the wrap authenticates beside the master key: the costs and salt it was derived with,
// so that none of them can be changed without the wrap failing to open.
std::string wrapAssociatedData(const WrappedKey& wrapped) {
    std::string data = "vantory master key 1";
    putBigEndian32(data, wrapped.kdf.passes);
    putBigEndian32(data, wrapped.kdf.memoryKib);
    putBigEndian32(data, wrapped.kdf.lanes);
    data.append(reinterpret_cast<const char*>(wrapped.salt.data()), wrapped.salt.size());
    return data;
}

std::string_view asText(const uint8_t* bytes, size_t n) {
    return {reinterpret_cast<const char*>(bytes), n};
}

// The key that wraps the master key, derived from the password, which is wiped then.
SecretBytes wrappingKey(const WrappedKey& wrapped, std::string& password) {
    SecretBytes key = argon2id(password, asText(wrapped.salt.data(), wrapped.salt.size()),
                               wrapped.kdf, kAeadKeySize);
    wipeString(password);
    return key;
}

}  // namespace

bool acceptableKdfParameters(const KdfParameters& p) {
    return p.passes >= 1 && p.passes <= kMaxKdfPasses && p.lanes >= 1 && p.lanes <= kMaxKdfLanes &&
           p.memoryKib >= 8 * p.lanes && p.memoryKib <= kMaxKdfMemoryKib;
}

SecretBytes argon2id(std::string_view password, std::string_view salt,
                     const KdfParameters& parameters, size_t size, std::string_view secret,
                     std::string_view associated) {
    useCryptoLibrary();
    // unsigned long is 32 bits on 64-bit Windows, which every cost allowed fits.
    const unsigned long costs[4] = {static_cast<unsigned long>(size), parameters.passes,
                                    parameters.memoryKib, parameters.lanes};
    gcry_kdf_hd_t kdf = nullptr;
    gcry_error_t error = gcry_kdf_open(
        &kdf, GCRY_KDF_ARGON2, GCRY_KDF_ARGON2ID, costs, 4, password.data(), password.size(),
        salt.data(), salt.size(), secret.empty() ? nullptr : secret.data(), secret.size(),
        associated.empty() ? nullptr : associated.data(), associated.size());
    SecretBytes key(size);
    if (error == 0) {
        error = gcry_kdf_compute(kdf, nullptr);
    }
    if (error == 0) {
        error = gcry_kdf_final(kdf, size, key.data());
    }
    gcry_kdf_close(kdf);
    if (gcry_err_code(error) == GPG_ERR_ENOMEM) {
        throw std::bad_alloc();
    }
    checkCrypto(error, "Argon2id");
    return key;
}

SecretBytes hkdfSha256(const SecretBytes& ikm, std::string_view salt, std::string_view info,
                       size_t size) {
    useCryptoLibrary();
    // An absent salt is a hash length of zero bytes.
    const uint8_t zeros[kHashSize] = {};
    SecretBytes prk(kHashSize);
    hmacSha256(salt.empty() ? zeros : reinterpret_cast<const uint8_t*>(salt.data()),
               salt.empty() ? kHashSize : salt.size(), {{ikm.data(), ikm.size()}}, prk.data());
    SecretBytes out(size);
    SecretBytes block(kHashSize);
    for (size_t done = 0, round = 1; done < size; ++round) {
        const uint8_t counter = static_cast<uint8_t>(round);
        hmacSha256(
            prk.data(), prk.size(),
            {{block.data(), round == 1 ? 0 : kHashSize}, {info.data(), info.size()}, {&counter, 1}},
            block.data());
        const size_t n = std::min(kHashSize, size - done);
        std::memcpy(out.data() + done, block.data(), n);
        done += n;
    }
    return out;
}

SecretBytes newMasterKey() {
    SecretBytes key(kMasterKeySize);
    fillRandom(key.data(), key.size());
    return key;
}

WrappedKey wrapMasterKey(const SecretBytes& masterKey, std::string& password,
                         const KdfParameters& parameters) {
    WrappedKey wrapped;
    wrapped.kdf = parameters;
    fillRandom(wrapped.salt.data(), wrapped.salt.size());
    fillRandom(wrapped.nonce.data(), wrapped.nonce.size());
    const std::string aad = wrapAssociatedData(wrapped);
    ChaCha20Poly1305 aead(wrappingKey(wrapped, password));
    aead.seal(wrapped.nonce.data(), reinterpret_cast<const uint8_t*>(aad.data()), aad.size(),
              masterKey.data(), masterKey.size(), wrapped.sealed.data());
    return wrapped;
}

std::optional<SecretBytes> unwrapMasterKey(const WrappedKey& wrapped, std::string& password) {
    if (!acceptableKdfParameters(wrapped.kdf)) {
        wipeString(password);
        return std::nullopt;
    }
    const std::string aad = wrapAssociatedData(wrapped);
    ChaCha20Poly1305 aead(wrappingKey(wrapped, password));
    SecretBytes masterKey(kMasterKeySize);
    if (!aead.open(wrapped.nonce.data(), reinterpret_cast<const uint8_t*>(aad.data()), aad.size(),
                   wrapped.sealed.data(), kMasterKeySize, masterKey.data())) {
        return std::nullopt;
    }
    return masterKey;
}

std::optional<WrappedKey> rewrapMasterKey(const WrappedKey& wrapped, std::string& oldPassword,
                                          std::string& newPassword) {
    const std::optional<SecretBytes> masterKey = unwrapMasterKey(wrapped, oldPassword);
    if (!masterKey) {
        wipeString(newPassword);
        return std::nullopt;
    }
    return wrapMasterKey(*masterKey, newPassword, wrapped.kdf);
}

std::array<uint8_t, 8> masterKeyId(const SecretBytes& masterKey) {
    const SecretBytes id = hkdfSha256(masterKey, {}, "vantory key id", 8);
    std::array<uint8_t, 8> out{};
    std::memcpy(out.data(), id.data(), out.size());
    return out;
}

}  // namespace vantory
