#include "cipher/kernels.h"

#include "cipher/runtime_random.h"

namespace vantory::kernels {

namespace portable {

uint32_t xorKeyStream(uint32_t state, uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        state = state * RuntimeRandom::kMultiplier + RuntimeRandom::kIncrement;
        data[i] ^= static_cast<uint8_t>(state >> 16);
    }
    return state;
}

void stretch(const uint8_t* in, size_t n, uint8_t* out) {
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const uint8_t a = in[i], b = in[i + 1], c = in[i + 2];
        out[0] = static_cast<uint8_t>((a & 63) + kFirstCode);
        out[1] = static_cast<uint8_t>((b & 63) + kFirstCode);
        out[2] = static_cast<uint8_t>((c & 63) + kFirstCode);
        out[3] = static_cast<uint8_t>(((a >> 6) << 4 | (b >> 6) << 2 | (c >> 6)) + kFirstCode);
        out += 4;
    }
    if (n - i == 1) {
        out[0] = static_cast<uint8_t>((in[i] & 63) + kFirstCode);
        out[1] = static_cast<uint8_t>(((in[i] >> 6) << 4) + kFirstCode);
    } else if (n - i == 2) {
        out[0] = static_cast<uint8_t>((in[i] & 63) + kFirstCode);
        out[1] = static_cast<uint8_t>((in[i + 1] & 63) + kFirstCode);
        out[2] = static_cast<uint8_t>(((in[i] >> 6) << 4 | (in[i + 1] >> 6) << 2) + kFirstCode);
    }
}

}  // namespace portable

namespace {

// One output character of the reference rule: lo OR hi, or a space where that is negative.
// The integer division truncates towards zero and AND works on two's complement, as the
// reference does for codes below the printable range.
uint8_t shrinkOne(uint8_t data, int top, int shift) {
    const int lo = data - kFirstCode;
    const int hi = ((shift == 0 ? top : top / (1 << shift)) & 3) * 64;
    const int value = lo | hi;
    return value < 0 ? uint8_t{' '} : static_cast<uint8_t>(value);
}

}  // namespace

namespace portable {

void shrinkGroups(const uint8_t* in, size_t groups, uint8_t* out) {
    for (size_t j = 0; j < groups; ++j, in += 4, out += 3) {
        const int top = in[3] - kFirstCode;
        out[0] = shrinkOne(in[0], top, 4);
        out[1] = shrinkOne(in[1], top, 2);
        out[2] = shrinkOne(in[2], top, 0);
    }
}

}  // namespace portable

void shrinkTail(const uint8_t* in, size_t m, uint8_t* out) {
    if (m < 2) {
        return;
    }
    const int top = in[m - 1] - kFirstCode;
    out[0] = shrinkOne(in[0], top, 4);
    if (m == 3) {
        out[1] = shrinkOne(in[1], top, 2);
    }
}

uint32_t xorKeyStream(uint32_t state, uint8_t* data, size_t n) {
    return portable::xorKeyStream(state, data, n);
}

void stretch(const uint8_t* in, size_t n, uint8_t* out) { portable::stretch(in, n, out); }

void shrinkGroups(const uint8_t* in, size_t groups, uint8_t* out) {
    portable::shrinkGroups(in, groups, out);
}

}  // namespace vantory::kernels
