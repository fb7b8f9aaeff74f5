#include <gtest/gtest.h>

#include "cipher/runtime_random.h"

namespace vantory {
namespace {

TEST(RuntimeRandom, freshProcessDrawsTheRuntimeSequence) {
    RuntimeRandom random;
    EXPECT_FLOAT_EQ(random.next(), 0.7055475f);
    EXPECT_FLOAT_EQ(random.next(), 0.533424f);
    EXPECT_FLOAT_EQ(random.next(), 0.5795186f);
    EXPECT_FLOAT_EQ(random.next(), 0.289562464f);
    EXPECT_FLOAT_EQ(random.next(), 0.301948f);
}

TEST(RuntimeRandom, negativeArgumentSetsTheStateFromTheArgumentAlone) {
    for (const uint32_t start : {0u, 0x50000u, 0xABCDEFu}) {
        RuntimeRandom random;
        random.setState(start);
        EXPECT_EQ(random.next(-1.0f), 0.224007010459899902f);
        EXPECT_EQ(random.state(), 0x395886u);  // the value above times 2^24
    }
    RuntimeRandom random;
    EXPECT_FLOAT_EQ(random.next(-1.2345E38f), 0.0319542289f);
    EXPECT_FLOAT_EQ(random.next(-8000000000.0f), 0.7537669f);
    EXPECT_FLOAT_EQ(random.next(-79.4f), 0.828889251f);
    EXPECT_FLOAT_EQ(random.next(-44.48306f), 0.5418172f);
}

TEST(RuntimeRandom, zeroRepeatsTheLastValueAndRandomizeKeepsOuterBytes) {
    RuntimeRandom random;
    random.next();
    random.randomize(42.0);
    EXPECT_FLOAT_EQ(random.next(0.0f), 0.251064479f);
    const uint32_t before = random.state();
    EXPECT_FLOAT_EQ(random.next(-0.0f), 0.251064479f);
    EXPECT_EQ(random.state(), before);
}

TEST(RuntimeRandom, cipherKeyingFirstStep) {
    RuntimeRandom random;
    random.randomize(random.next(-1.0f));
    EXPECT_EQ(random.state(), 0x938F86u);
    EXPECT_FLOAT_EQ(random.next(), 0.588015615940094f);
    EXPECT_FLOAT_EQ(random.next(), 0.6017179489135742f);
    EXPECT_FLOAT_EQ(random.next(), 0.10254210233688354f);
}

TEST(RuntimeRandom, nextByteIsTheTopEightBitsOfTheNextValue) {
    RuntimeRandom a, b;
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(a.nextByte(), static_cast<int>(b.next() * 256.0f));
    }
}

}  // namespace
}  // namespace vantory
