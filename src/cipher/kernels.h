#pragma once

// The inner loops of the cipher, on raw bytes. Each has a portable form and, where the
// processor allows, a vector form chosen at run time; all forms give identical bytes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vantory::kernels {

// Printable codes of the sealed form run from kFirstCode to kFirstCode + 63.
inline constexpr uint8_t kFirstCode = 59;

// The generator step (state * 0x43FD43FD + 0xC39EC3; bits 16..23 key one byte).
inline constexpr uint32_t kStepMultiplier = 0x43FD43FD;
inline constexpr uint32_t kStepIncrement = 0xC39EC3;

// Sealed length of n bytes: every group of three becomes four characters, a last group of
// one or two becomes two or three.
constexpr size_t stretchedSize(size_t n) {
    return n + (n + 2) / 3;
}

// Number of bytes that a printable form of m characters stands for.
constexpr size_t shrunkSize(size_t m) {
    return m <= 1 ? 0 : (m - 1) - (m - 1) / 4;
}

// k generator steps taken at once: state_after = multiplier * state + increment (mod 2^32).
struct Jump {
    uint32_t multiplier = 1;
    uint32_t increment = 0;

    constexpr uint32_t apply(uint32_t state) const { return state * multiplier + increment; }
};

// The jump over k steps, by repeated squaring of the single step.
constexpr Jump jumpAhead(uint64_t k) {
    Jump result;
    Jump power{kStepMultiplier, kStepIncrement};
    for (; k != 0; k >>= 1) {
        if ((k & 1) != 0) {
            result = {result.multiplier * power.multiplier,
                      result.increment * power.multiplier + power.increment};
        }
        power = {power.multiplier * power.multiplier,
                 power.increment * power.multiplier + power.increment};
    }
    return result;
}

// XORs data with the key stream that follows generator state `state` and returns the state
// after the last byte. The state is carried in 32 bits; only the low 24 bits matter.
uint32_t xorKeyStream(uint32_t state, uint8_t* data, size_t n);

// Writes the printable form of n bytes to out (stretchedSize(n) bytes). Only the last piece
// of a longer text may have a length that is not a multiple of 3.
void stretch(const uint8_t* in, size_t n, uint8_t* out);

// Turns `groups` whole groups of four printable characters into 3 * groups bytes. Input that
// no stretch made is handled as the reference rule says: a position whose code would be
// negative keeps a space.
void shrinkGroups(const uint8_t* in, size_t groups, uint8_t* out);

// The end of a printable form that is not a whole group: m (0 to 3) characters, the last of
// which carries the top bits. Writes max(0, m - 1) bytes.
void shrinkTail(const uint8_t* in, size_t m, uint8_t* out);

// Sealing in one pass: the bytes of xorKeyStream on a copy of in[0, n) followed by stretch,
// written to out (stretchedSize(n) bytes). in is left alone. Returns the state after the last
// byte. As for stretch, only the last piece of a text may have a length not a multiple of 3.
uint32_t xorStretch(uint32_t state, const uint8_t* in, size_t n, uint8_t* out);

// Unsealing in one pass: shrinkGroups followed by xorKeyStream on its 3 * groups bytes.
uint32_t shrinkXor(uint32_t state, const uint8_t* in, size_t groups, uint8_t* out);

// One complete set of the kernels above, built for one instruction set.
struct KernelSet {
    const char* name;  // "portable", "sse41", "avx2", "avx512"
    uint32_t (*xorKeyStream)(uint32_t state, uint8_t* data, size_t n);
    void (*stretch)(const uint8_t* in, size_t n, uint8_t* out);
    void (*shrinkGroups)(const uint8_t* in, size_t groups, uint8_t* out);
    uint32_t (*xorStretch)(uint32_t state, const uint8_t* in, size_t n, uint8_t* out);
    uint32_t (*shrinkXor)(uint32_t state, const uint8_t* in, size_t groups, uint8_t* out);
};

// The sets this processor can run, the portable one first and the widest last.
std::span<const KernelSet* const> availableKernelSets();

// The set behind the functions above: the widest available one, unless the environment
// variable VANTORY_CIPHER_KERNEL names another available set. Chosen once, on first use.
const KernelSet& activeKernelSet();

// Makes the named set the active one (benchmarks, tests). Returns false, changing nothing,
// when no available set has that name.
bool useKernelSet(std::string_view name);

// Portable forms, used where no vector form applies and as the reference in tests.
namespace portable {
uint32_t xorKeyStream(uint32_t state, uint8_t* data, size_t n);
void stretch(const uint8_t* in, size_t n, uint8_t* out);
void shrinkGroups(const uint8_t* in, size_t groups, uint8_t* out);
uint32_t xorStretch(uint32_t state, const uint8_t* in, size_t n, uint8_t* out);
uint32_t shrinkXor(uint32_t state, const uint8_t* in, size_t groups, uint8_t* out);
}  // namespace portable

// Pieces shared by the vector forms.
namespace detail {

// Generator states laid out for vector code. A step of blocks * lanes * perLane bytes is keyed
// by blocks * perLane vectors of `lanes` states each: lane j of vector b * perLane + k holds
// the state that keys byte b * lanes * perLane + perLane * j + k of the step (the state after
// that byte's generator step from `state`). Writes the vectors one after the other to out.
void laneStates(uint32_t state, size_t lanes, size_t perLane, size_t blocks, uint32_t* out);

// One output byte of the reference rule: lo OR hi, or a space where that is negative. The
// integer division truncates towards zero and AND works on two's complement, as the
// reference does for codes below the printable range.
inline uint8_t shrinkOne(uint8_t data, int top, int shift) {
    const int lo = data - kFirstCode;
    const int hi = ((shift == 0 ? top : top / (1 << shift)) & 3) * 64;
    const int value = lo | hi;
    return value < 0 ? uint8_t{' '} : static_cast<uint8_t>(value);
}

// The reference rule for one group of four characters whatever their codes: three bytes.
// Inline, so that vector loops that fall back on it need not save their registers.
inline void shrinkGroup(const uint8_t* in, uint8_t* out) {
    const int top = in[3] - kFirstCode;
    out[0] = shrinkOne(in[0], top, 4);
    out[1] = shrinkOne(in[1], top, 2);
    out[2] = shrinkOne(in[2], top, 0);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define VANTORY_X86_KERNELS 1
extern const KernelSet kSse41Kernels;
extern const KernelSet kAvx2Kernels;
extern const KernelSet kAvx512Kernels;
#endif

}  // namespace detail

}  // namespace vantory::kernels
