#include "cipher/cipher.h"

#include <algorithm>
#include <cstdint>

#include "cipher/kernels.h"
#include "platform/platform.h"

namespace vantory {

namespace {

uint8_t* bytes(std::string& s) {
    return reinterpret_cast<uint8_t*>(s.data());
}

// An empty string with room for n bytes. A fresh buffer of many megabytes costs a page fault
// for every 4 KiB when it is first written, which on Linux takes several times longer than
// sealing the bytes; huge pages cut that cost as much.
std::string reserved(size_t n) {
    std::string s;
    s.reserve(n);
    constexpr size_t kHugeBuffer = size_t{8} << 20;
    if (n >= kHugeBuffer) {
        // Advice only: where the system declines, the buffer simply keeps small pages.
        platform::adviseHugePages(s.data(), n);
    }
    return s;
}

}  // namespace

void Cipher::KeyString(std::string_view key) {
    key_ = key;
    SeedFromKey();
}

void Cipher::SeedFromKey() {
    random_ = RuntimeRandom();
    random_.randomize(random_.next(-1.0f));
    for (const unsigned char code : key_) {
        const float r = random_.next();
        const float x = -r * static_cast<float>(code);
        random_.randomize(random_.next(x));
        tick(pacer_);
    }
}

void Cipher::DoXor() {
    uint32_t state = random_.state();
    for (size_t done = 0; done < text_.size(); done += kCipherBlock) {
        const size_t n = std::min(kCipherBlock, text_.size() - done);
        state = kernels::xorKeyStream(state, bytes(text_) + done, n);
        tick(pacer_);
    }
    random_.setState(state);
}

void Cipher::Stretch() {
    std::string out(kernels::stretchedSize(text_.size()), '\0');
    for (size_t done = 0; done < text_.size(); done += kCipherBlock) {
        const size_t n = std::min(kCipherBlock, text_.size() - done);
        kernels::stretch(bytes(text_) + done, n, bytes(out) + kernels::stretchedSize(done));
        tick(pacer_);
    }
    text_ = std::move(out);
}

void Cipher::Shrink() {
    const size_t m = text_.size();
    std::string out(kernels::shrunkSize(m), ' ');
    const size_t groups = out.size() / 3;
    constexpr size_t kGroupsPerBlock = kCipherBlock / 4;
    for (size_t g = 0; g < groups; g += kGroupsPerBlock) {
        const size_t n = std::min(kGroupsPerBlock, groups - g);
        kernels::shrinkGroups(bytes(text_) + 4 * g, n, bytes(out) + 3 * g);
        tick(pacer_);
    }
    kernels::shrinkTail(bytes(text_) + 4 * groups, m - 4 * groups, bytes(out) + 3 * groups);
    text_ = std::move(out);
}

uint32_t KeyStreamStart(std::string_view key, Pacer* pacer) {
    Cipher cipher(pacer);
    cipher.KeyString(key);
    return cipher.keyStreamState();
}

std::string Seal(std::string_view text, std::string_view key, Pacer* pacer) {
    // XOR and stretch run together, one block at a time: the text is read once and the sealed
    // form written once. The result grows by one block before each step, so the zeros that
    // resize writes are still in cache when the kernel overwrites them. The bytes are those
    // of DoXor followed by Stretch.
    uint32_t state = KeyStreamStart(key, pacer);
    std::string sealed = reserved(kernels::stretchedSize(text.size()));
    const auto* in = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t done = 0; done < text.size(); done += kCipherBlock) {
        const size_t n = std::min(kCipherBlock, text.size() - done);
        sealed.resize(kernels::stretchedSize(done + n));
        state =
            kernels::xorStretch(state, in + done, n, bytes(sealed) + kernels::stretchedSize(done));
        tick(pacer);
    }
    return sealed;
}

std::string Unseal(std::string_view text, std::string_view key, Pacer* pacer) {
    // Shrink and XOR run together on one block at a time, as in Seal. The bytes are those of
    // Shrink followed by DoXor.
    uint32_t state = KeyStreamStart(key, pacer);
    const size_t m = text.size();
    std::string plain = reserved(kernels::shrunkSize(m));
    const auto* in = reinterpret_cast<const uint8_t*>(text.data());
    const size_t groups = kernels::shrunkSize(m) / 3;
    constexpr size_t kGroupsPerBlock = kCipherBlock / 3;
    for (size_t g = 0; g < groups; g += kGroupsPerBlock) {
        const size_t n = std::min(kGroupsPerBlock, groups - g);
        plain.resize(3 * (g + n));
        state = kernels::shrinkXor(state, in + 4 * g, n, bytes(plain) + 3 * g);
        tick(pacer);
    }
    // A last group of one or two bytes.
    uint8_t last[2] = {};
    const size_t rest = kernels::shrunkSize(m) - 3 * groups;
    kernels::shrinkTail(in + 4 * groups, m - 4 * groups, last);
    kernels::xorKeyStream(state, last, rest);
    plain.append(reinterpret_cast<const char*>(last), rest);
    return plain;
}

}  // namespace vantory
