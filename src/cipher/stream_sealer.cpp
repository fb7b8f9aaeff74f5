#include "cipher/stream_sealer.h"

#include <algorithm>
#include <cstring>

#include "cipher/cipher.h"
#include "cipher/kernels.h"

namespace vantory {

Sealer::Sealer(std::string_view key, Pacer* pacer)
    : state_(KeyStreamStart(key, pacer)), pacer_(pacer) {}

size_t Sealer::update(const uint8_t* data, size_t n, uint8_t* out) {
    size_t written = 0;
    if (carried_ > 0) {
        while (carried_ < 3 && n > 0) {
            carry_[carried_++] = *data++;
            --n;
        }
        if (carried_ < 3) {
            return 0;
        }
        state_ = kernels::xorStretch(state_, carry_, 3, out);
        written = 4;
        carried_ = 0;
    }
    const size_t whole = n - n % 3;
    for (size_t done = 0; done < whole; done += kCipherBlock) {
        const size_t m = std::min(kCipherBlock, whole - done);
        state_ = kernels::xorStretch(state_, data + done, m, out + written);
        written += m / 3 * 4;
        tick(pacer_);
    }
    carried_ = n - whole;
    std::memcpy(carry_, data + whole, carried_);
    return written;
}

size_t Sealer::finish(uint8_t* out) {
    const size_t n = carried_;
    state_ = kernels::xorStretch(state_, carry_, n, out);
    carried_ = 0;
    return kernels::stretchedSize(n);
}

Unsealer::Unsealer(std::string_view key, Pacer* pacer)
    : state_(KeyStreamStart(key, pacer)), pacer_(pacer) {}

size_t Unsealer::update(const uint8_t* sealed, size_t m, uint8_t* out) {
    size_t written = 0;
    if (carried_ > 0) {
        while (carried_ < 4 && m > 0) {
            carry_[carried_++] = *sealed++;
            --m;
        }
        if (carried_ < 4) {
            return 0;
        }
        state_ = kernels::shrinkXor(state_, carry_, 1, out);
        written = 3;
        carried_ = 0;
    }
    const size_t groups = m / 4;
    constexpr size_t kGroupsPerBlock = kCipherBlock / 4;
    for (size_t g = 0; g < groups; g += kGroupsPerBlock) {
        const size_t k = std::min(kGroupsPerBlock, groups - g);
        state_ = kernels::shrinkXor(state_, sealed + 4 * g, k, out + written);
        written += 3 * k;
        tick(pacer_);
    }
    carried_ = m - 4 * groups;
    std::memcpy(carry_, sealed + 4 * groups, carried_);
    return written;
}

size_t Unsealer::finish(uint8_t* out) {
    const size_t n = carried_ <= 1 ? 0 : carried_ - 1;
    kernels::shrinkTail(carry_, carried_, out);
    state_ = kernels::xorKeyStream(state_, out, n);
    carried_ = 0;
    return n;
}

size_t StoredFileUnsealer::update(const uint8_t* content, size_t n, uint8_t* out) {
    // The last two bytes seen are held back until more arrive or the content ends.
    if (n >= 2) {
        size_t written = unsealer_.update(held_, heldCount_, out);
        written += unsealer_.update(content, n - 2, out + written);
        held_[0] = content[n - 2];
        held_[1] = content[n - 1];
        heldCount_ = 2;
        return written;
    }
    if (n == 0) {
        return 0;
    }
    size_t written = 0;
    if (heldCount_ == 2) {
        written = unsealer_.update(held_, 1, out);
        held_[0] = held_[1];
        heldCount_ = 1;
    }
    held_[heldCount_++] = content[0];
    return written;
}

size_t StoredFileUnsealer::finish(uint8_t* out) {
    size_t written = 0;
    const bool lineEnd =
        heldCount_ == 2 && held_[0] == kSealedLineEnd[0] && held_[1] == kSealedLineEnd[1];
    if (!lineEnd) {
        written = unsealer_.update(held_, heldCount_, out);
    }
    heldCount_ = 0;
    return written + unsealer_.finish(out + written);
}

}  // namespace vantory
