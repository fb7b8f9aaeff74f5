#include "cipher/crypto_library.h"

#include <gcrypt.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "cipher/gcrypt_check.h"

namespace vantory {

void checkCrypto(gcry_error_t error, const char* what) {
    if (error != 0) {
        std::fprintf(stderr, "libgcrypt: %s: %s\n", what, gcry_strerror(error));
        std::abort();
    }
}

namespace {

// The secure pool starts this large and grows by as much when keys and cipher states need more.
constexpr size_t kSecurePool = 32 * 1024;

// The library's notes (under wine, its entropy gatherer asks for `diskperf -y`; without the
// right to lock memory, it says that the pool is not locked) are not the user's business;
// its errors still reach standard error.
void logHandler(void*, int level, const char* format, va_list arguments) {
    if (level >= GCRY_LOG_ERROR) {
        std::vfprintf(stderr, format, arguments);
    }
}

}  // namespace

void useCryptoLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        gcry_set_log_handler(logHandler, nullptr);
        if (gcry_check_version(GCRYPT_VERSION) == nullptr) {
            std::fprintf(stderr, "libgcrypt %s or later is needed, %s was found\n", GCRYPT_VERSION,
                         gcry_check_version(nullptr));
            std::abort();
        }
        gcry_control(GCRYCTL_SUSPEND_SECMEM_WARN);
        gcry_control(GCRYCTL_INIT_SECMEM, kSecurePool, 0);
        gcry_control(GCRYCTL_AUTO_EXPAND_SECMEM, kSecurePool, 0);
        gcry_control(GCRYCTL_RESUME_SECMEM_WARN);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

void fillRandom(uint8_t* bytes, size_t n) {
    useCryptoLibrary();
    // The system's generator seeds this level, which serves keys too. The "very strong" level
    // would add a jitter-entropy gatherer whose buffer only the secure pool points to, which
    // the leak checker cannot see into.
    gcry_randomize(bytes, n, GCRY_STRONG_RANDOM);
}

void wipeBytes(void* bytes, size_t n) {
    volatile auto* at = static_cast<volatile uint8_t*>(bytes);
    for (size_t i = 0; i < n; ++i) {
        at[i] = 0;
    }
}

void wipeString(std::string& text) {
    text.resize(text.capacity());
    wipeBytes(text.data(), text.size());
    text.clear();
}

SecretBytes::SecretBytes(size_t size) {
    useCryptoLibrary();
    bytes_ = static_cast<uint8_t*>(gcry_malloc_secure(size == 0 ? 1 : size));
    if (bytes_ == nullptr) {
        throw std::bad_alloc();
    }
    size_ = size;
    std::memset(bytes_, 0, size);
}

SecretBytes::SecretBytes(const uint8_t* from, size_t size) : SecretBytes(size) {
    if (size != 0) {
        std::memcpy(bytes_, from, size);
    }
}

SecretBytes::~SecretBytes() {
    release();
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)) {}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
        release();
        bytes_ = std::exchange(other.bytes_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

bool SecretBytes::operator==(const SecretBytes& other) const {
    if (size_ != other.size_) {
        return false;
    }
    uint8_t difference = 0;  // in constant time: secrets are compared
    for (size_t i = 0; i < size_; ++i) {
        difference |= bytes_[i] ^ other.bytes_[i];
    }
    return difference == 0;
}

void SecretBytes::release() {
    if (bytes_ != nullptr) {
        wipeBytes(bytes_, size_);
        gcry_free(bytes_);
        bytes_ = nullptr;
        size_ = 0;
    }
}

std::array<uint8_t, 32> sha256(std::string_view text) {
    useCryptoLibrary();
    std::array<uint8_t, 32> digest{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), text.data(), text.size());
    return digest;
}

std::string toHex(const uint8_t* bytes, size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 15];
    }
    return hex;
}

bool fromHex(std::string_view hex, std::string& bytes) {
    const auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    if (hex.size() % 2 != 0) {
        return false;
    }
    std::string out(hex.size() / 2, '\0');
    for (size_t i = 0; i < out.size(); ++i) {
        const int high = digit(hex[2 * i]), low = digit(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<char>(high << 4 | low);
    }
    bytes = std::move(out);
    return true;
}

}  // namespace vantory
