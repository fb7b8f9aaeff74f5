// The AVX-512 forms of the cipher kernels (AVX-512 F and BW): 16 lanes of 32-bit generator
// states, 48 bytes stretched to 64 characters per step. Built with a function-level target;
// kernels.cpp offers these only where the processor has both extensions.

#include "cipher/kernels.h"

#ifdef VANTORY_X86_KERNELS

#include <immintrin.h>

// GCC 12 takes the deliberately undefined pass-through operand inside the AVX-512 intrinsics
// (_mm512_undefined_epi32) for an uninitialised variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define VANTORY_AVX512 __attribute__((target("avx512f,avx512bw")))

namespace vantory::kernels::detail {

namespace {

constexpr size_t kLanes = 16;

// storePacked writes 16 bytes past the 48 it fills; whole groups of output that cover them.
constexpr size_t kSpillGroups = 6;

VANTORY_AVX512 inline __m512i loadStates(const uint32_t* states) {
    return _mm512_loadu_si512(states);
}

// Takes the generator `jump` steps ahead in every lane.
VANTORY_AVX512 inline __m512i advance(__m512i states, const Jump& jump) {
    return _mm512_add_epi32(_mm512_mullo_epi32(states, _mm512_set1_epi32(jump.multiplier)),
                            _mm512_set1_epi32(jump.increment));
}

// Key bytes (bits 16..23 of each state) gathered into byte k of every 32-bit lane from
// vector k: three vectors fill bytes 0..2 and leave byte 3 zero.
VANTORY_AVX512 inline __m512i keyBytes(__m512i s0, __m512i s1, __m512i s2) {
    const __m512i b0 = _mm512_and_si512(_mm512_srli_epi32(s0, 16), _mm512_set1_epi32(0xFF));
    const __m512i b1 = _mm512_and_si512(_mm512_srli_epi32(s1, 8), _mm512_set1_epi32(0xFF00));
    const __m512i b2 = _mm512_and_si512(s2, _mm512_set1_epi32(0xFF0000));
    return _mm512_or_si512(_mm512_or_si512(b0, b1), b2);
}

VANTORY_AVX512 inline __m512i keyBytes(__m512i s0, __m512i s1, __m512i s2, __m512i s3) {
    const __m512i b3 =
        _mm512_and_si512(_mm512_slli_epi32(s3, 8), _mm512_set1_epi32(static_cast<int>(0xFF000000)));
    return _mm512_or_si512(keyBytes(s0, s1, s2), b3);
}

// 48 bytes, three to each 32-bit lane (bytes 0..2, byte 3 zero). Reads in[0, 64).
VANTORY_AVX512 inline __m512i loadSpread(const uint8_t* in) {
    const __m512i bytes = _mm512_loadu_si512(in);
    const __m512i quarters = _mm512_permutexvar_epi32(
        _mm512_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5, 6, 7, 8, 8, 9, 10, 11, 11), bytes);
    const __m512i spread =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
    return _mm512_shuffle_epi8(quarters, spread);
}

// The printable group of the three bytes in each lane: a, b, c and the top-bit character.
VANTORY_AVX512 inline void storeStretched(__m512i v, uint8_t* out) {
    const __m512i low = _mm512_and_si512(v, _mm512_set1_epi32(0x003F3F3F));
    const __m512i topA = _mm512_and_si512(_mm512_slli_epi32(v, 22), _mm512_set1_epi32(0x30000000));
    const __m512i topB = _mm512_and_si512(_mm512_slli_epi32(v, 12), _mm512_set1_epi32(0x0C000000));
    const __m512i topC = _mm512_and_si512(_mm512_slli_epi32(v, 2), _mm512_set1_epi32(0x03000000));
    const __m512i codes = _mm512_or_si512(_mm512_or_si512(low, topA), _mm512_or_si512(topB, topC));
    _mm512_storeu_si512(out,
                        _mm512_add_epi8(codes, _mm512_set1_epi8(static_cast<char>(kFirstCode))));
}

// Sixteen groups of four characters shrunk to three bytes in each lane (byte 3 zero). Groups
// with a code outside the printable range take the reference rule, one group at a time.
VANTORY_AVX512 inline __m512i loadShrunk(const uint8_t* in) {
    const __m512i codes = _mm512_loadu_si512(in);
    const __m512i d = _mm512_sub_epi8(codes, _mm512_set1_epi8(static_cast<char>(kFirstCode)));
    if (_mm512_test_epi8_mask(d, _mm512_set1_epi8(static_cast<char>(0xC0))) != 0) [[unlikely]] {
        alignas(64) uint8_t spread[64] = {};
        for (size_t j = 0; j < 16; ++j) {
            shrinkGroup(in + 4 * j, spread + 4 * j);
        }
        return _mm512_load_si512(spread);
    }
    const __m512i low = _mm512_and_si512(d, _mm512_set1_epi32(0x003F3F3F));
    const __m512i topA = _mm512_and_si512(_mm512_srli_epi32(d, 22), _mm512_set1_epi32(0xC0));
    const __m512i topB = _mm512_and_si512(_mm512_srli_epi32(d, 12), _mm512_set1_epi32(0xC000));
    const __m512i topC = _mm512_and_si512(_mm512_srli_epi32(d, 2), _mm512_set1_epi32(0xC00000));
    return _mm512_or_si512(_mm512_or_si512(low, topA), _mm512_or_si512(topB, topC));
}

// Writes bytes 0..2 of every lane to out[0, 48), and out[48, 64) with bytes of no use.
VANTORY_AVX512 inline void storePacked(__m512i v, uint8_t* out) {
    const __m512i pack = _mm512_broadcast_i32x4(
        _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    const __m512i packed = _mm512_permutexvar_epi32(
        _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15),
        _mm512_shuffle_epi8(v, pack));
    _mm512_storeu_si512(out, packed);
}

VANTORY_AVX512 uint32_t xorKeyStreamAvx512(uint32_t state, uint8_t* data, size_t n) {
    // Two vectors of 64 bytes a step, each keyed by four vectors of states.
    constexpr size_t kStep = 2 * 4 * kLanes;
    size_t i = 0;
    if (n >= kStep) {
        uint32_t lanes[8 * kLanes];
        laneStates(state, kLanes, 4, 2, lanes);
        __m512i s[8];
        for (size_t v = 0; v < 8; ++v) {
            s[v] = loadStates(lanes + v * kLanes);
        }
        constexpr Jump jump = jumpAhead(kStep);
        for (; i + kStep <= n; i += kStep) {
            uint8_t* p = data + i;
            _mm512_storeu_si512(
                p, _mm512_xor_si512(_mm512_loadu_si512(p), keyBytes(s[0], s[1], s[2], s[3])));
            _mm512_storeu_si512(p + 64, _mm512_xor_si512(_mm512_loadu_si512(p + 64),
                                                         keyBytes(s[4], s[5], s[6], s[7])));
            for (__m512i& v : s) {
                v = advance(v, jump);
            }
        }
    }
    return portable::xorKeyStream(jumpAhead(i).apply(state), data + i, n - i);
}

VANTORY_AVX512 void stretchAvx512(const uint8_t* in, size_t n, uint8_t* out) {
    size_t i = 0;
    for (; i + 64 <= n; i += 48) {
        storeStretched(loadSpread(in + i), out + i / 3 * 4);
    }
    portable::stretch(in + i, n - i, out + i / 3 * 4);
}

VANTORY_AVX512 uint32_t xorStretchAvx512(uint32_t state, const uint8_t* in, size_t n,
                                         uint8_t* out) {
    // Two pieces of 48 bytes a step, each keyed by three vectors of states.
    constexpr size_t kStep = 2 * 3 * kLanes;
    size_t i = 0;
    if (n >= kStep + 16) {
        uint32_t lanes[6 * kLanes];
        laneStates(state, kLanes, 3, 2, lanes);
        __m512i s[6];
        for (size_t v = 0; v < 6; ++v) {
            s[v] = loadStates(lanes + v * kLanes);
        }
        constexpr Jump jump = jumpAhead(kStep);
        for (; i + kStep + 16 <= n; i += kStep) {
            const __m512i a = _mm512_xor_si512(loadSpread(in + i), keyBytes(s[0], s[1], s[2]));
            const __m512i b = _mm512_xor_si512(loadSpread(in + i + 48), keyBytes(s[3], s[4], s[5]));
            storeStretched(a, out + i / 3 * 4);
            storeStretched(b, out + i / 3 * 4 + 64);
            for (__m512i& v : s) {
                v = advance(v, jump);
            }
        }
    }
    return portable::xorStretch(jumpAhead(i).apply(state), in + i, n - i, out + i / 3 * 4);
}

VANTORY_AVX512 void shrinkGroupsAvx512(const uint8_t* in, size_t groups, uint8_t* out) {
    size_t g = 0;
    for (; g + 16 + kSpillGroups <= groups; g += 16) {
        storePacked(loadShrunk(in + 4 * g), out + 3 * g);
    }
    portable::shrinkGroups(in + 4 * g, groups - g, out + 3 * g);
}

VANTORY_AVX512 uint32_t shrinkXorAvx512(uint32_t state, const uint8_t* in, size_t groups,
                                        uint8_t* out) {
    // Thirty-two groups a step: two pieces of 48 bytes, each keyed by three vectors of states.
    constexpr size_t kGroups = 32;
    size_t g = 0;
    if (groups >= kGroups + kSpillGroups) {
        uint32_t lanes[6 * kLanes];
        laneStates(state, kLanes, 3, 2, lanes);
        __m512i s[6];
        for (size_t v = 0; v < 6; ++v) {
            s[v] = loadStates(lanes + v * kLanes);
        }
        constexpr Jump jump = jumpAhead(3 * kGroups);
        for (; g + kGroups + kSpillGroups <= groups; g += kGroups) {
            const __m512i a = _mm512_xor_si512(loadShrunk(in + 4 * g), keyBytes(s[0], s[1], s[2]));
            const __m512i b =
                _mm512_xor_si512(loadShrunk(in + 4 * g + 64), keyBytes(s[3], s[4], s[5]));
            storePacked(a, out + 3 * g);
            storePacked(b, out + 3 * g + 48);
            for (__m512i& v : s) {
                v = advance(v, jump);
            }
        }
    }
    return portable::shrinkXor(jumpAhead(3 * g).apply(state), in + 4 * g, groups - g, out + 3 * g);
}

}  // namespace

const KernelSet kAvx512Kernels{"avx512",           xorKeyStreamAvx512, stretchAvx512,
                               shrinkGroupsAvx512, xorStretchAvx512,   shrinkXorAvx512};

}  // namespace vantory::kernels::detail

#endif
