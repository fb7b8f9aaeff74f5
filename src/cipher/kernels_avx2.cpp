// The AVX2 forms of the cipher kernels: 8 lanes of 32-bit generator states, 24 bytes stretched
// to 32 characters per step. Built with a function-level target so that the program still
// starts on processors without AVX2; kernels.cpp offers these only where the processor has it.

#include "cipher/kernels.h"

#ifdef VANTORY_X86_KERNELS

#include <immintrin.h>

#define VANTORY_AVX2 __attribute__((target("avx2")))

namespace vantory::kernels::detail {

namespace {

constexpr size_t kLanes = 8;

// storePacked writes 8 bytes past the 24 it fills; whole groups of output that cover them.
constexpr size_t kSpillGroups = 3;

VANTORY_AVX2 inline __m256i loadStates(const uint32_t* states) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(states));
}

// Takes the generator `jump` steps ahead in every lane.
VANTORY_AVX2 inline __m256i advance(__m256i states, const Jump& jump) {
    return _mm256_add_epi32(_mm256_mullo_epi32(states, _mm256_set1_epi32(jump.multiplier)),
                            _mm256_set1_epi32(jump.increment));
}

// Key bytes (bits 16..23 of each state) gathered into byte k of every 32-bit lane from
// vector k: three vectors fill bytes 0..2 and leave byte 3 zero.
VANTORY_AVX2 inline __m256i keyBytes(__m256i s0, __m256i s1, __m256i s2) {
    const __m256i b0 = _mm256_and_si256(_mm256_srli_epi32(s0, 16), _mm256_set1_epi32(0xFF));
    const __m256i b1 = _mm256_and_si256(_mm256_srli_epi32(s1, 8), _mm256_set1_epi32(0xFF00));
    const __m256i b2 = _mm256_and_si256(s2, _mm256_set1_epi32(0xFF0000));
    return _mm256_or_si256(_mm256_or_si256(b0, b1), b2);
}

VANTORY_AVX2 inline __m256i keyBytes(__m256i s0, __m256i s1, __m256i s2, __m256i s3) {
    const __m256i b3 =
        _mm256_and_si256(_mm256_slli_epi32(s3, 8), _mm256_set1_epi32(static_cast<int>(0xFF000000)));
    return _mm256_or_si256(keyBytes(s0, s1, s2), b3);
}

// 24 bytes, three to each 32-bit lane (bytes 0..2, byte 3 zero). Reads in[0, 28).
VANTORY_AVX2 inline __m256i loadSpread(const uint8_t* in) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12));
    const __m256i both = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                            1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    return _mm256_shuffle_epi8(both, spread);
}

// The printable group of the three bytes in each lane: a, b, c and the top-bit character.
VANTORY_AVX2 inline void storeStretched(__m256i v, uint8_t* out) {
    const __m256i low = _mm256_and_si256(v, _mm256_set1_epi32(0x003F3F3F));
    const __m256i topA = _mm256_and_si256(_mm256_slli_epi32(v, 22), _mm256_set1_epi32(0x30000000));
    const __m256i topB = _mm256_and_si256(_mm256_slli_epi32(v, 12), _mm256_set1_epi32(0x0C000000));
    const __m256i topC = _mm256_and_si256(_mm256_slli_epi32(v, 2), _mm256_set1_epi32(0x03000000));
    const __m256i codes = _mm256_or_si256(_mm256_or_si256(low, topA), _mm256_or_si256(topB, topC));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_add_epi8(codes, _mm256_set1_epi8(static_cast<char>(kFirstCode))));
}

// Eight groups of four characters shrunk to three bytes in each lane (byte 3 zero). Groups
// with a code outside the printable range take the reference rule, one group at a time.
VANTORY_AVX2 inline __m256i loadShrunk(const uint8_t* in) {
    const __m256i codes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i d = _mm256_sub_epi8(codes, _mm256_set1_epi8(static_cast<char>(kFirstCode)));
    if (!_mm256_testz_si256(d, _mm256_set1_epi8(static_cast<char>(0xC0)))) [[unlikely]] {
        alignas(32) uint8_t spread[32] = {};
        for (size_t j = 0; j < 8; ++j) {
            shrinkGroup(in + 4 * j, spread + 4 * j);
        }
        return _mm256_load_si256(reinterpret_cast<const __m256i*>(spread));
    }
    const __m256i low = _mm256_and_si256(d, _mm256_set1_epi32(0x003F3F3F));
    const __m256i topA = _mm256_and_si256(_mm256_srli_epi32(d, 22), _mm256_set1_epi32(0xC0));
    const __m256i topB = _mm256_and_si256(_mm256_srli_epi32(d, 12), _mm256_set1_epi32(0xC000));
    const __m256i topC = _mm256_and_si256(_mm256_srli_epi32(d, 2), _mm256_set1_epi32(0xC00000));
    return _mm256_or_si256(_mm256_or_si256(low, topA), _mm256_or_si256(topB, topC));
}

// Writes bytes 0..2 of every lane to out[0, 24), and out[24, 32) with bytes of no use.
VANTORY_AVX2 inline void storePacked(__m256i v, uint8_t* out) {
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                          1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, pack),
                                                       _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
}

VANTORY_AVX2 uint32_t xorKeyStreamAvx2(uint32_t state, uint8_t* data, size_t n) {
    // Two vectors of 32 bytes a step, each keyed by four vectors of states.
    constexpr size_t kStep = 2 * 4 * kLanes;
    size_t i = 0;
    if (n >= kStep) {
        uint32_t lanes[8 * kLanes];
        laneStates(state, kLanes, 4, 2, lanes);
        __m256i s[8];
        for (size_t v = 0; v < 8; ++v) {
            s[v] = loadStates(lanes + v * kLanes);
        }
        constexpr Jump jump = jumpAhead(kStep);
        for (; i + kStep <= n; i += kStep) {
            __m256i* p = reinterpret_cast<__m256i*>(data + i);
            _mm256_storeu_si256(
                p, _mm256_xor_si256(_mm256_loadu_si256(p), keyBytes(s[0], s[1], s[2], s[3])));
            _mm256_storeu_si256(p + 1, _mm256_xor_si256(_mm256_loadu_si256(p + 1),
                                                        keyBytes(s[4], s[5], s[6], s[7])));
            for (__m256i& v : s) {
                v = advance(v, jump);
            }
        }
    }
    return portable::xorKeyStream(jumpAhead(i).apply(state), data + i, n - i);
}

VANTORY_AVX2 void stretchAvx2(const uint8_t* in, size_t n, uint8_t* out) {
    size_t i = 0;
    for (; i + 28 <= n; i += 24) {
        storeStretched(loadSpread(in + i), out + i / 3 * 4);
    }
    portable::stretch(in + i, n - i, out + i / 3 * 4);
}

VANTORY_AVX2 uint32_t xorStretchAvx2(uint32_t state, const uint8_t* in, size_t n, uint8_t* out) {
    // Two pieces of 24 bytes a step, each keyed by three vectors of states.
    constexpr size_t kStep = 2 * 3 * kLanes;
    size_t i = 0;
    if (n >= kStep + 4) {
        uint32_t lanes[6 * kLanes];
        laneStates(state, kLanes, 3, 2, lanes);
        __m256i s[6];
        for (size_t v = 0; v < 6; ++v) {
            s[v] = loadStates(lanes + v * kLanes);
        }
        constexpr Jump jump = jumpAhead(kStep);
        for (; i + kStep + 4 <= n; i += kStep) {
            const __m256i a = _mm256_xor_si256(loadSpread(in + i), keyBytes(s[0], s[1], s[2]));
            const __m256i b = _mm256_xor_si256(loadSpread(in + i + 24), keyBytes(s[3], s[4], s[5]));
            storeStretched(a, out + i / 3 * 4);
            storeStretched(b, out + i / 3 * 4 + 32);
            for (__m256i& v : s) {
                v = advance(v, jump);
            }
        }
    }
    return portable::xorStretch(jumpAhead(i).apply(state), in + i, n - i, out + i / 3 * 4);
}

VANTORY_AVX2 void shrinkGroupsAvx2(const uint8_t* in, size_t groups, uint8_t* out) {
    size_t g = 0;
    for (; g + 8 + kSpillGroups <= groups; g += 8) {
        storePacked(loadShrunk(in + 4 * g), out + 3 * g);
    }
    portable::shrinkGroups(in + 4 * g, groups - g, out + 3 * g);
}

VANTORY_AVX2 uint32_t shrinkXorAvx2(uint32_t state, const uint8_t* in, size_t groups,
                                    uint8_t* out) {
    // Sixteen groups a step: two pieces of 24 bytes, each keyed by three vectors of states.
    constexpr size_t kGroups = 16;
    size_t g = 0;
    if (groups >= kGroups + kSpillGroups) {
        uint32_t lanes[6 * kLanes];
        laneStates(state, kLanes, 3, 2, lanes);
        __m256i s[6];
        for (size_t v = 0; v < 6; ++v) {
            s[v] = loadStates(lanes + v * kLanes);
        }
        constexpr Jump jump = jumpAhead(3 * kGroups);
        for (; g + kGroups + kSpillGroups <= groups; g += kGroups) {
            const __m256i a = _mm256_xor_si256(loadShrunk(in + 4 * g), keyBytes(s[0], s[1], s[2]));
            const __m256i b =
                _mm256_xor_si256(loadShrunk(in + 4 * g + 32), keyBytes(s[3], s[4], s[5]));
            storePacked(a, out + 3 * g);
            storePacked(b, out + 3 * g + 24);
            for (__m256i& v : s) {
                v = advance(v, jump);
            }
        }
    }
    return portable::shrinkXor(jumpAhead(3 * g).apply(state), in + 4 * g, groups - g, out + 3 * g);
}

}  // namespace

const KernelSet kAvx2Kernels{"avx2",           xorKeyStreamAvx2, stretchAvx2,
                             shrinkGroupsAvx2, xorStretchAvx2,   shrinkXorAvx2};

}  // namespace vantory::kernels::detail

#endif
