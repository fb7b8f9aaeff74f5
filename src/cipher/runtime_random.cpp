#include "cipher/runtime_random.h"

#include <bit>

namespace vantory {

namespace {
constexpr float kTwoTo24 = 16777216.0f;
}

float RuntimeRandom::next() {
    state_ = state_ * kMultiplier + kIncrement;
    return static_cast<float>(state()) / kTwoTo24;
}

float RuntimeRandom::next(float x) {
    if (x > 0.0f) {
        return next();
    }
    if (x == 0.0f) {  // also -0.0
        return static_cast<float>(state()) / kTwoTo24;
    }
    const uint32_t bits = std::bit_cast<uint32_t>(x);
    state_ = (bits + (bits >> 24)) & kStateMask;
    return next();
}

void RuntimeRandom::randomize(double v) {
    const auto high = static_cast<int32_t>(std::bit_cast<uint64_t>(v) >> 32);
    const auto mixed = static_cast<uint32_t>((high & 0xFFFF) ^ (high >> 16)) << 8;
    state_ = (state_ & 0xFF0000FFu) | mixed;
}

}  // namespace vantory
