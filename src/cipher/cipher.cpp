#include "cipher/cipher.h"

#include <algorithm>

#include "cipher/kernels.h"

namespace vantory {

namespace {

// Work is done in blocks of this many input bytes (a multiple of 3 and of 4) between pacer
// ticks; small enough to stay in cache, large enough that ticking costs nothing.
constexpr size_t kBlock = 3 * 4 * 4096;

uint8_t* bytes(std::string& s) { return reinterpret_cast<uint8_t*>(s.data()); }

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
    for (size_t done = 0; done < text_.size(); done += kBlock) {
        const size_t n = std::min(kBlock, text_.size() - done);
        state = kernels::xorKeyStream(state, bytes(text_) + done, n);
        tick(pacer_);
    }
    random_.setState(state);
}

void Cipher::Stretch() {
    std::string out(kernels::stretchedSize(text_.size()), '\0');
    for (size_t done = 0; done < text_.size(); done += kBlock) {
        const size_t n = std::min(kBlock, text_.size() - done);
        kernels::stretch(bytes(text_) + done, n, bytes(out) + kernels::stretchedSize(done));
        tick(pacer_);
    }
    text_ = std::move(out);
}

void Cipher::Shrink() {
    const size_t m = text_.size();
    std::string out(kernels::shrunkSize(m), ' ');
    const size_t groups = out.size() / 3;
    constexpr size_t kGroupsPerBlock = kBlock / 4;
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
    // XOR and stretch run block by block over a small buffer, so the text is read once and
    // the sealed form written once; the bytes are those of DoXor followed by Stretch.
    uint32_t state = KeyStreamStart(key, pacer);
    std::string sealed(kernels::stretchedSize(text.size()), '\0');
    std::string block(std::min(kBlock, text.size()), '\0');
    for (size_t done = 0; done < text.size(); done += kBlock) {
        const size_t n = std::min(kBlock, text.size() - done);
        std::copy_n(text.data() + done, n, block.data());
        state = kernels::xorKeyStream(state, bytes(block), n);
        kernels::stretch(bytes(block), n, bytes(sealed) + kernels::stretchedSize(done));
        tick(pacer);
    }
    return sealed;
}

std::string Unseal(std::string_view text, std::string_view key, Pacer* pacer) {
    Cipher cipher(pacer);
    cipher.KeyString(key);
    cipher.Text(std::string(text));
    cipher.Shrink();
    tick(pacer);
    cipher.DoXor();
    return cipher.TakeText();
}

}  // namespace vantory
