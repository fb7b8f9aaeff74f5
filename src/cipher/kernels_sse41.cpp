// The SSE4.1 forms of the cipher kernels: 4 lanes of 32-bit generator states, 12 bytes
// stretched to 16 characters per step (pshufb needs SSSE3, pmulld SSE4.1). Built with a
// function-level target; kernels.cpp offers these only where the processor has both.

#include "cipher/kernels.h"

#ifdef VANTORY_X86_KERNELS

#include <immintrin.h>

#define VANTORY_SSE41 __attribute__((target("ssse3,sse4.1")))

namespace vantory::kernels::detail {

namespace {

constexpr size_t kLanes = 4;

// storePacked writes 4 bytes past the 12 it fills; whole groups of output that cover them.
constexpr size_t kSpillGroups = 2;

VANTORY_SSE41 inline __m128i loadStates(const uint32_t* states) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(states));
}

// Takes the generator `jump` steps ahead in every lane.
VANTORY_SSE41 inline __m128i advance(__m128i states, const Jump& jump) {
    return _mm_add_epi32(_mm_mullo_epi32(states, _mm_set1_epi32(jump.multiplier)),
                         _mm_set1_epi32(jump.increment));
}

// Key bytes (bits 16..23 of each state) gathered into byte k of every 32-bit lane from
// vector k: three vectors fill bytes 0..2 and leave byte 3 zero.
VANTORY_SSE41 inline __m128i keyBytes(__m128i s0, __m128i s1, __m128i s2) {
    const __m128i b0 = _mm_and_si128(_mm_srli_epi32(s0, 16), _mm_set1_epi32(0xFF));
    const __m128i b1 = _mm_and_si128(_mm_srli_epi32(s1, 8), _mm_set1_epi32(0xFF00));
    const __m128i b2 = _mm_and_si128(s2, _mm_set1_epi32(0xFF0000));
    return _mm_or_si128(_mm_or_si128(b0, b1), b2);
}

VANTORY_SSE41 inline __m128i keyBytes(__m128i s0, __m128i s1, __m128i s2, __m128i s3) {
    const __m128i b3 =
        _mm_and_si128(_mm_slli_epi32(s3, 8), _mm_set1_epi32(static_cast<int>(0xFF000000)));
    return _mm_or_si128(keyBytes(s0, s1, s2), b3);
}

// 12 bytes, three to each 32-bit lane (bytes 0..2, byte 3 zero). Reads in[0, 16).
VANTORY_SSE41 inline __m128i loadSpread(const uint8_t* in) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    return _mm_shuffle_epi8(bytes,
                            _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
}

// The printable group of the three bytes in each lane: a, b, c and the top-bit character.
VANTORY_SSE41 inline void storeStretched(__m128i v, uint8_t* out) {
    const __m128i low = _mm_and_si128(v, _mm_set1_epi32(0x003F3F3F));
    const __m128i topA = _mm_and_si128(_mm_slli_epi32(v, 22), _mm_set1_epi32(0x30000000));
    const __m128i topB = _mm_and_si128(_mm_slli_epi32(v, 12), _mm_set1_epi32(0x0C000000));
    const __m128i topC = _mm_and_si128(_mm_slli_epi32(v, 2), _mm_set1_epi32(0x03000000));
    const __m128i codes = _mm_or_si128(_mm_or_si128(low, topA), _mm_or_si128(topB, topC));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_add_epi8(codes, _mm_set1_epi8(static_cast<char>(kFirstCode))));
}

// Four groups of four characters shrunk to three bytes in each lane (byte 3 zero). Groups
// with a code outside the printable range take the reference rule, one group at a time.
VANTORY_SSE41 inline __m128i loadShrunk(const uint8_t* in) {
    const __m128i codes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i d = _mm_sub_epi8(codes, _mm_set1_epi8(static_cast<char>(kFirstCode)));
    if (!_mm_testz_si128(d, _mm_set1_epi8(static_cast<char>(0xC0)))) [[unlikely]] {
        alignas(16) uint8_t spread[16] = {};
        for (size_t j = 0; j < 4; ++j) {
            shrinkGroup(in + 4 * j, spread + 4 * j);
        }
        return _mm_load_si128(reinterpret_cast<const __m128i*>(spread));
    }
    const __m128i low = _mm_and_si128(d, _mm_set1_epi32(0x003F3F3F));
    const __m128i topA = _mm_and_si128(_mm_srli_epi32(d, 22), _mm_set1_epi32(0xC0));
    const __m128i topB = _mm_and_si128(_mm_srli_epi32(d, 12), _mm_set1_epi32(0xC000));
    const __m128i topC = _mm_and_si128(_mm_srli_epi32(d, 2), _mm_set1_epi32(0xC00000));
    return _mm_or_si128(_mm_or_si128(low, topA), _mm_or_si128(topB, topC));
}

// Writes bytes 0..2 of every lane to out[0, 12), and out[12, 16) with bytes of no use.
VANTORY_SSE41 inline void storePacked(__m128i v, uint8_t* out) {
    const __m128i packed =
        _mm_shuffle_epi8(v, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
}

VANTORY_SSE41 uint32_t xorKeyStreamSse41(uint32_t state, uint8_t* data, size_t n) {
    // Two vectors of 16 bytes a step, each keyed by four vectors of states.
    constexpr size_t kStep = 2 * 4 * kLanes;
    size_t i = 0;
    if (n >= kStep) {
        uint32_t lanes[8 * kLanes];
        laneStates(state, kLanes, 4, 2, lanes);
        __m128i s[8];
        for (size_t v = 0; v < 8; ++v) {
            s[v] = loadStates(lanes + v * kLanes);
        }
        constexpr Jump jump = jumpAhead(kStep);
        for (; i + kStep <= n; i += kStep) {
            __m128i* p = reinterpret_cast<__m128i*>(data + i);
            _mm_storeu_si128(p,
                             _mm_xor_si128(_mm_loadu_si128(p), keyBytes(s[0], s[1], s[2], s[3])));
            _mm_storeu_si128(
                p + 1, _mm_xor_si128(_mm_loadu_si128(p + 1), keyBytes(s[4], s[5], s[6], s[7])));
            for (__m128i& v : s) {
                v = advance(v, jump);
            }
        }
    }
    return portable::xorKeyStream(jumpAhead(i).apply(state), data + i, n - i);
}

VANTORY_SSE41 void stretchSse41(const uint8_t* in, size_t n, uint8_t* out) {
    size_t i = 0;
    for (; i + 16 <= n; i += 12) {
        storeStretched(loadSpread(in + i), out + i / 3 * 4);
    }
    portable::stretch(in + i, n - i, out + i / 3 * 4);
}

VANTORY_SSE41 uint32_t xorStretchSse41(uint32_t state, const uint8_t* in, size_t n, uint8_t* out) {
    // Two pieces of 12 bytes a step, each keyed by three vectors of states.
    constexpr size_t kStep = 2 * 3 * kLanes;
    size_t i = 0;
    if (n >= kStep + 4) {
        uint32_t lanes[6 * kLanes];
        laneStates(state, kLanes, 3, 2, lanes);
        __m128i s[6];
        for (size_t v = 0; v < 6; ++v) {
            s[v] = loadStates(lanes + v * kLanes);
        }
        constexpr Jump jump = jumpAhead(kStep);
        for (; i + kStep + 4 <= n; i += kStep) {
            const __m128i a = _mm_xor_si128(loadSpread(in + i), keyBytes(s[0], s[1], s[2]));
            const __m128i b = _mm_xor_si128(loadSpread(in + i + 12), keyBytes(s[3], s[4], s[5]));
            storeStretched(a, out + i / 3 * 4);
            storeStretched(b, out + i / 3 * 4 + 16);
            for (__m128i& v : s) {
                v = advance(v, jump);
            }
        }
    }
    return portable::xorStretch(jumpAhead(i).apply(state), in + i, n - i, out + i / 3 * 4);
}

VANTORY_SSE41 void shrinkGroupsSse41(const uint8_t* in, size_t groups, uint8_t* out) {
    size_t g = 0;
    for (; g + 4 + kSpillGroups <= groups; g += 4) {
        storePacked(loadShrunk(in + 4 * g), out + 3 * g);
    }
    portable::shrinkGroups(in + 4 * g, groups - g, out + 3 * g);
}

VANTORY_SSE41 uint32_t shrinkXorSse41(uint32_t state, const uint8_t* in, size_t groups,
                                      uint8_t* out) {
    // Eight groups a step: two pieces of 12 bytes, each keyed by three vectors of states.
    constexpr size_t kGroups = 8;
    size_t g = 0;
    if (groups >= kGroups + kSpillGroups) {
        uint32_t lanes[6 * kLanes];
        laneStates(state, kLanes, 3, 2, lanes);
        __m128i s[6];
        for (size_t v = 0; v < 6; ++v) {
            s[v] = loadStates(lanes + v * kLanes);
        }
        constexpr Jump jump = jumpAhead(3 * kGroups);
        for (; g + kGroups + kSpillGroups <= groups; g += kGroups) {
            const __m128i a = _mm_xor_si128(loadShrunk(in + 4 * g), keyBytes(s[0], s[1], s[2]));
            const __m128i b =
                _mm_xor_si128(loadShrunk(in + 4 * g + 16), keyBytes(s[3], s[4], s[5]));
            storePacked(a, out + 3 * g);
            storePacked(b, out + 3 * g + 12);
            for (__m128i& v : s) {
                v = advance(v, jump);
            }
        }
    }
    return portable::shrinkXor(jumpAhead(3 * g).apply(state), in + 4 * g, groups - g, out + 3 * g);
}

}  // namespace

const KernelSet kSse41Kernels{"sse41",           xorKeyStreamSse41, stretchSse41,
                              shrinkGroupsSse41, xorStretchSse41,   shrinkXorSse41};

}  // namespace vantory::kernels::detail

#endif
