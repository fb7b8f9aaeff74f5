#include "cipher/kernels.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <vector>

#include "cipher/runtime_random.h"

namespace vantory::kernels {

static_assert(kStepMultiplier == RuntimeRandom::kMultiplier);
static_assert(kStepIncrement == RuntimeRandom::kIncrement);
static_assert(jumpAhead(1).apply(0x123456) == 0x123456 * kStepMultiplier + kStepIncrement);

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

namespace detail {

void laneStates(uint32_t state, size_t lanes, size_t perLane, size_t blocks, uint32_t* out) {
    const size_t blockBytes = lanes * perLane;
    for (size_t p = 0; p < blocks * blockBytes; ++p) {
        state = state * kStepMultiplier + kStepIncrement;
        const size_t block = p / blockBytes, lane = p % blockBytes / perLane, k = p % perLane;
        out[(block * perLane + k) * lanes + lane] = state;
    }
}

}  // namespace detail

namespace portable {

void shrinkGroups(const uint8_t* in, size_t groups, uint8_t* out) {
    for (size_t j = 0; j < groups; ++j, in += 4, out += 3) {
        detail::shrinkGroup(in, out);
    }
}

uint32_t xorStretch(uint32_t state, const uint8_t* in, size_t n, uint8_t* out) {
    // XOR a small piece at a time in a buffer on the stack, then stretch it.
    constexpr size_t kPiece = 3 * 256;
    uint8_t buffer[kPiece];
    for (size_t done = 0; done < n; done += kPiece) {
        const size_t len = std::min(kPiece, n - done);
        std::copy_n(in + done, len, buffer);
        state = xorKeyStream(state, buffer, len);
        stretch(buffer, len, out + stretchedSize(done));
    }
    return state;
}

uint32_t shrinkXor(uint32_t state, const uint8_t* in, size_t groups, uint8_t* out) {
    shrinkGroups(in, groups, out);
    return xorKeyStream(state, out, 3 * groups);
}

}  // namespace portable

void shrinkTail(const uint8_t* in, size_t m, uint8_t* out) {
    if (m < 2) {
        return;
    }
    const int top = in[m - 1] - kFirstCode;
    out[0] = detail::shrinkOne(in[0], top, 4);
    if (m == 3) {
        out[1] = detail::shrinkOne(in[1], top, 2);
    }
}

namespace {

constexpr KernelSet kPortableKernels{"portable",           portable::xorKeyStream,
                                     portable::stretch,    portable::shrinkGroups,
                                     portable::xorStretch, portable::shrinkXor};

std::vector<const KernelSet*> findAvailableKernelSets() {
    std::vector<const KernelSet*> sets{&kPortableKernels};
#ifdef VANTORY_X86_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1")) {
        sets.push_back(&detail::kSse41Kernels);
    }
    if (__builtin_cpu_supports("avx2")) {
        sets.push_back(&detail::kAvx2Kernels);
    }
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) {
        sets.push_back(&detail::kAvx512Kernels);
    }
#endif
    return sets;
}

const KernelSet* findKernelSet(std::string_view name) {
    for (const KernelSet* set : availableKernelSets()) {
        if (name == set->name) {
            return set;
        }
    }
    return nullptr;
}

std::atomic<const KernelSet*> active{nullptr};

const KernelSet* chooseKernelSet() {
    const char* wanted = std::getenv("VANTORY_CIPHER_KERNEL");
    const KernelSet* named = wanted != nullptr ? findKernelSet(wanted) : nullptr;
    return named != nullptr ? named : availableKernelSets().back();
}

}  // namespace

std::span<const KernelSet* const> availableKernelSets() {
    static const std::vector<const KernelSet*> sets = findAvailableKernelSets();
    return sets;
}

const KernelSet& activeKernelSet() {
    const KernelSet* set = active.load(std::memory_order_acquire);
    if (set == nullptr) {
        static const KernelSet* const chosen = chooseKernelSet();
        const KernelSet* expected = nullptr;
        active.compare_exchange_strong(expected, chosen, std::memory_order_acq_rel);
        set = active.load(std::memory_order_acquire);
    }
    return *set;
}

bool useKernelSet(std::string_view name) {
    const KernelSet* set = findKernelSet(name);
    if (set == nullptr) {
        return false;
    }
    active.store(set, std::memory_order_release);
    return true;
}

uint32_t xorKeyStream(uint32_t state, uint8_t* data, size_t n) {
    return activeKernelSet().xorKeyStream(state, data, n);
}

void stretch(const uint8_t* in, size_t n, uint8_t* out) {
    activeKernelSet().stretch(in, n, out);
}

void shrinkGroups(const uint8_t* in, size_t groups, uint8_t* out) {
    activeKernelSet().shrinkGroups(in, groups, out);
}

uint32_t xorStretch(uint32_t state, const uint8_t* in, size_t n, uint8_t* out) {
    return activeKernelSet().xorStretch(state, in, n, out);
}

uint32_t shrinkXor(uint32_t state, const uint8_t* in, size_t groups, uint8_t* out) {
    return activeKernelSet().shrinkXor(state, in, groups, out);
}

}  // namespace vantory::kernels
