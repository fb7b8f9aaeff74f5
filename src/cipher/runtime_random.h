#pragma once

#include <cstdint>

namespace vantory {

// The classic BASIC runtime's process-wide pseudo-random generator, reproduced bit for bit.
// Texts sealed by that runtime open only with exactly this sequence, so every detail below
// (the 24-bit state, the float conversions, the re-seeding rules) matters.
class RuntimeRandom {
  public:
    static constexpr uint32_t kStartState = 0x50000;
    static constexpr uint32_t kMultiplier = 0x43FD43FD;
    static constexpr uint32_t kIncrement = 0xC39EC3;
    static constexpr uint32_t kStateMask = 0xFFFFFF;

    // rtcRandomNext() and rtcRandomNext(x) for positive x: advance, return state / 2^24.
    float next();
    // rtcRandomNext(x): negative x re-seeds from x's bits and draws; zero repeats the last value.
    float next(float x);
    // rtcRandomize(v): replaces the middle two bytes of the state from v's encoding.
    void randomize(double v);

    uint32_t state() const { return state_ & kStateMask; }
    void setState(uint32_t state) { state_ = state; }

  private:
    // Only the low 24 bits take part in any result; the high byte is carried as the runtime does.
    uint32_t state_ = kStartState;
};

}  // namespace vantory
