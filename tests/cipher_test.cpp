#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "cipher/cipher.h"
#include "cipher/kernels.h"
#include "cipher/runtime_random.h"

namespace vantory {
namespace kernels {
// A kernel set in a test's name and messages: its name rather than its address.
void PrintTo(const KernelSet* set, std::ostream* os) {
    *os << set->name;
}
}  // namespace kernels
namespace {

std::string allBytes() {
    std::string s(256, '\0');
    std::iota(s.begin(), s.end(), '\0');
    return s;
}

// Random bytes; with foreignOneIn > 1, codes of the printable range with others here and
// there, so that vector code meets both its fast path and the reference rule in one call.
std::string randomBytes(size_t n, unsigned seed, unsigned foreignOneIn = 1) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(gen() % foreignOneIn == 0 ? gen() : kernels::kFirstCode + gen() % 64);
    }
    return s;
}

std::vector<int> codes(const std::string& s) {
    return std::vector<int>(reinterpret_cast<const unsigned char*>(s.data()),
                            reinterpret_cast<const unsigned char*>(s.data()) + s.size());
}

TEST(RuntimeRandom, drawsTheRuntimeSequences) {
    RuntimeRandom fresh;
    for (const float value : {0.7055475f, 0.533424f, 0.5795186f, 0.289562464f, 0.301948f}) {
        EXPECT_FLOAT_EQ(fresh.next(), value);
    }
    // A negative argument sets the state from the argument alone.
    const std::pair<float, float> seeded[] = {{-1.0f, 0.224007010459899902f},
                                              {-1.2345E38f, 0.0319542289f},
                                              {-8000000000.0f, 0.7537669f},
                                              {-79.4f, 0.828889251f},
                                              {-44.48306f, 0.5418172f}};
    for (const uint32_t start : {0u, 0x50000u, 0xABCDEFu}) {
        for (const auto& [x, value] : seeded) {
            RuntimeRandom random;
            random.setState(start);
            EXPECT_FLOAT_EQ(random.next(x), value) << x << " from " << start;
            EXPECT_TRUE(x != -1.0f || random.state() == 0x395886u);  // the value times 2^24
        }
    }
}

TEST(RuntimeRandom, zeroRepeatsTheLastValueAndRandomizeKeepsOuterBytes) {
    RuntimeRandom random;
    random.next();
    random.randomize(42.0);
    EXPECT_FLOAT_EQ(random.next(0.0f), 0.251064479f);
    const uint32_t before = random.state();
    EXPECT_FLOAT_EQ(random.next(-0.0f), 0.251064479f);
    EXPECT_EQ(random.state(), before);
    // The first step of the cipher's keying.
    RuntimeRandom keying;
    keying.randomize(keying.next(-1.0f));
    EXPECT_EQ(keying.state(), 0x938F86u);
    for (const float value : {0.588015615940094f, 0.6017179489135742f, 0.10254210233688354f}) {
        EXPECT_FLOAT_EQ(keying.next(), value);
    }
}

TEST(Cipher, stretchAndShrinkFollowTheWorkedValues) {
    const std::pair<const char*, std::vector<int>> cases[] = {
        {"abc", {92, 93, 94, 80}},
        {"abcd", {92, 93, 94, 80, 95, 75}},
        {"ab", {92, 93, 79}},
        {"a", {92, 75}},
    };
    for (const auto& [text, stretched] : cases) {
        Cipher cipher;
        cipher.Text(text);
        cipher.Stretch();
        EXPECT_EQ(codes(cipher.Text()), stretched) << text;
        cipher.Shrink();
        EXPECT_EQ(cipher.Text(), text);
    }
    const size_t shrunk[] = {0, 0, 1, 2, 3, 3, 4, 5, 6, 6};
    for (size_t m = 0; m < std::size(shrunk); ++m) {
        Cipher cipher;
        cipher.Text(std::string(m, 'A'));
        cipher.Shrink();
        EXPECT_EQ(cipher.Text().size(), shrunk[m]) << m;
    }
    // '!' (33) is below the printable range: lo is negative, so the position stays a space.
    Cipher cipher;
    cipher.Text("!]^P");
    cipher.Shrink();
    EXPECT_EQ(cipher.Text(), std::string(" bc"));
    // A group character below the range gives its bits as the reference does: g = -59;
    // -59 / 16 = -3 -> & 3 = 1; -59 / 4 = -14 -> & 3 = 2; -59 & 3 = 1.
    cipher.Text(std::string("\x3b\x3b\x3b\x00", 4));
    cipher.Shrink();
    EXPECT_EQ(codes(cipher.Text()), (std::vector<int>{64, 128, 64}));
}

TEST(Cipher, sealedFormIsTheReferenceOnePrintableAThirdLongerAndRoundTrips) {
    const char* const cases[][3] = {{"kumquat", "3907514482", "ekHwrLlhXK"},
                                    {"txt", "3907514482", "pxOw"},
                                    {"abc", "", "rstx"},
                                    {"Hello, world", "kumquat", "kHuFjezoxa=wPgoH"},
                                    {"", "anything", ""}};
    for (const auto& [text, key, sealed] : cases) {
        EXPECT_EQ(Seal(text, key), sealed);
        EXPECT_EQ(Unseal(sealed, key), text);
    }
    for (const size_t n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 100, 1000, 49153}) {
        const std::string text = randomBytes(n, 7), sealed = Seal(text, "key");
        EXPECT_EQ(sealed.size(), n + (n + 2) / 3);
        EXPECT_TRUE(std::all_of(sealed.begin(), sealed.end(),
                                [](unsigned char c) { return c >= 59 && c <= 122; }));
        EXPECT_EQ(Unseal(sealed, "key"), text) << n;
    }
    // A pacer ticking all along changes nothing.
    int yields = 0;
    Pacer pacer([&] { ++yields; }, std::chrono::microseconds(0));
    const std::string text = allBytes() + randomBytes(1 << 20, 3) + "\r\n";
    for (const std::string& key : {std::string(), std::string("kumquat"), allBytes()}) {
        const std::string sealed = Seal(text, key);
        EXPECT_TRUE(Seal(text, key, &pacer) == sealed);
        EXPECT_TRUE(Unseal(sealed, key) == text);
        EXPECT_TRUE(Unseal(sealed, key, &pacer) == text);
    }
    EXPECT_GT(yields, 10);
}

// Every kernel set this processor runs is checked against the portable forms.
using KernelSetTest = ::testing::TestWithParam<const kernels::KernelSet*>;

const uint8_t* in(const std::string& s, size_t offset = 0) {
    return reinterpret_cast<const uint8_t*>(s.data()) + offset;
}
uint8_t* out(std::string& s, size_t offset = 0) {
    return reinterpret_cast<uint8_t*>(s.data()) + offset;
}

// Lengths around every vector width and step, and a few long ones.
std::vector<size_t> testLengths() {
    std::vector<size_t> lengths(201);
    std::iota(lengths.begin(), lengths.end(), size_t{0});
    lengths.insert(lengths.end(), {255, 256, 257, 383, 384, 385, 4095, 49152, 65536 + 7, 100003});
    return lengths;
}

constexpr uint32_t kStates[] = {0, 0x938F86, 0xFFFFFFFF, 0x12000000, 0x00FFFFFF};

// From any state, at any length and alignment; outputs are written no further than their
// size: the '#' after them stay.
TEST_P(KernelSetTest, kernelsMatchThePortableForms) {
    const kernels::KernelSet& set = *GetParam();
    size_t round = 0;
    for (const size_t n : testLengths()) {
        SCOPED_TRACE(n);
        const uint32_t state = kStates[round % std::size(kStates)];
        const size_t offset = round++ % 7;
        const std::string text = randomBytes(n + offset, static_cast<unsigned>(n));
        std::string a = text, xored = text;
        const uint32_t after = kernels::portable::xorKeyStream(state, out(xored, offset), n);
        EXPECT_EQ(set.xorKeyStream(state, out(a, offset), n), after);
        ASSERT_TRUE(a == xored) << "state " << state;
        std::string s(kernels::stretchedSize(n) + offset + 64, '#'), expected = s;
        set.stretch(in(text, offset), n, out(s, offset));
        kernels::portable::stretch(in(text, offset), n, out(expected, offset));
        ASSERT_TRUE(s == expected);
        kernels::portable::stretch(in(xored, offset), n, out(expected, offset));
        std::string input = text;
        EXPECT_EQ(set.xorStretch(state, in(input, offset), n, out(s, offset)), after);
        ASSERT_TRUE(s == expected) << "xorStretch, state " << state;
        ASSERT_TRUE(input == text);

        // Shrinking any bytes: random ones, mostly printable ones and a sealed text.
        const size_t groups = n / 4 + n % 3;
        const std::string inputs[] = {
            randomBytes(4 * groups + offset, static_cast<unsigned>(n) + 3),
            randomBytes(4 * groups + offset, static_cast<unsigned>(n) + 4, 97),
            std::string(offset, 'x') + Seal(randomBytes(3 * groups, static_cast<unsigned>(n)), "k"),
        };
        for (const std::string& sealed : inputs) {
            std::string shrunk(3 * groups + offset + 64, '#'), reference = shrunk;
            set.shrinkGroups(in(sealed, offset), groups, out(shrunk, offset));
            kernels::portable::shrinkGroups(in(sealed, offset), groups, out(reference, offset));
            ASSERT_TRUE(shrunk == reference) << "groups " << groups;
            const uint32_t start = kStates[round++ % std::size(kStates)];
            const uint32_t end =
                kernels::portable::xorKeyStream(start, out(reference, offset), 3 * groups);
            std::string c(shrunk.size(), '#');
            EXPECT_EQ(set.shrinkXor(start, in(sealed, offset), groups, out(c, offset)), end);
            ASSERT_TRUE(c == reference) << "shrinkXor, state " << start;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Available, KernelSetTest,
                         ::testing::ValuesIn(kernels::availableKernelSets().begin(),
                                             kernels::availableKernelSets().end()),
                         [](const auto& info) { return std::string(info.param->name); });

TEST(Kernels, portableSetComesFirstUnknownNamesAreRefusedAndJumpsAreSteps) {
    const auto sets = kernels::availableKernelSets();
    ASSERT_FALSE(sets.empty());
    EXPECT_STREQ(sets.front()->name, "portable");
    EXPECT_FALSE(kernels::useKernelSet("no-such-set"));
    for (const uint64_t k : {0, 1, 2, 3, 24, 48, 64, 100, 12345}) {
        uint32_t state = 0xABCDEF;
        for (uint64_t i = 0; i < k; ++i) {
            state = state * kernels::kStepMultiplier + kernels::kStepIncrement;
        }
        EXPECT_EQ(kernels::jumpAhead(k).apply(0xABCDEF), state) << k;
    }
}

}  // namespace
}  // namespace vantory
