#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "cipher/cipher.h"
#include "cipher/kernels.h"

namespace vantory {
namespace {

std::string allBytes() {
    std::string s;
    for (int i = 0; i < 256; ++i) {
        s.push_back(static_cast<char>(i));
    }
    return s;
}

std::string randomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(gen());
    }
    return s;
}

std::vector<int> codes(const std::string& s) {
    return std::vector<int>(reinterpret_cast<const unsigned char*>(s.data()),
                            reinterpret_cast<const unsigned char*>(s.data()) + s.size());
}

TEST(Cipher, sealsTheReferenceValues) {
    EXPECT_EQ(Seal("kumquat", "3907514482"), "ekHwrLlhXK");
    EXPECT_EQ(Seal("txt", "3907514482"), "pxOw");
    EXPECT_EQ(Seal("abc", ""), "rstx");
    EXPECT_EQ(Seal("Hello, world", "kumquat"), "kHuFjezoxa=wPgoH");
    EXPECT_EQ(Seal("", "anything"), "");
    EXPECT_EQ(Unseal("kHuFjezoxa=wPgoH", "kumquat"), "Hello, world");
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
}

TEST(Cipher, sealedFormIsPrintableAndAThirdLonger) {
    for (const size_t n : {0, 1, 2, 3, 4, 7, 100, 1000, 49153}) {
        const std::string sealed = Seal(randomBytes(n, 7), "key");
        EXPECT_EQ(sealed.size(), n + (n + 2) / 3);
        for (const unsigned char c : sealed) {
            ASSERT_GE(c, 59);
            ASSERT_LE(c, 122);
        }
    }
}

TEST(Cipher, roundTripsEveryByteValueUnderAnyKey) {
    const std::string text = allBytes() + randomBytes(300000, 3) + "\r\n";
    for (const std::string& key : {std::string(), std::string("kumquat"), allBytes()}) {
        EXPECT_EQ(Unseal(Seal(text, key), key), text);
    }
    for (size_t n = 0; n < 10; ++n) {
        EXPECT_EQ(Unseal(Seal(text.substr(0, n), "k"), "k"), text.substr(0, n));
    }
}

TEST(Cipher, keyStreamDependsOnTheKeyAlone) {
    const std::string first = Seal("some text", "one");
    (void)Seal("other text", "two");
    EXPECT_EQ(Seal("some text", "one"), first);
    EXPECT_NE(Seal("some text", "onf"), first);
    // A wrong key gives text of the right length, not an error.
    EXPECT_EQ(Unseal(first, "two").size(), 9u);
    EXPECT_NE(Unseal(first, "two"), "some text");
}

TEST(Cipher, shrinkLengthsFollowTheRule) {
    const std::pair<size_t, size_t> lengths[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 3},
                                                 {5, 3}, {6, 4}, {7, 5}, {8, 6}, {9, 6}};
    for (const auto& [m, n] : lengths) {
        Cipher cipher;
        cipher.Text(std::string(m, 'A'));
        cipher.Shrink();
        EXPECT_EQ(cipher.Text().size(), n) << m;
    }
}

TEST(Cipher, shrinkOfForeignTextLeavesSpacesWhereCodesWouldBeNegative) {
    // '!' (33) is below the printable range: lo is negative, so the position stays a space.
    Cipher cipher;
    cipher.Text("!]^P");
    cipher.Shrink();
    EXPECT_EQ(cipher.Text(), std::string(" bc"));
    // A group character below the range still contributes its bits as the reference does:
    // g = 0 - 59 = -59; -59 / 16 = -3 -> & 3 = 1; -59 / 4 = -14 -> & 3 = 2; -59 & 3 = 1.
    cipher.Text(std::string("\x3b\x3b\x3b\x00", 4));
    cipher.Shrink();
    EXPECT_EQ(codes(cipher.Text()), (std::vector<int>{64, 128, 64}));
}

TEST(Cipher, pacerTicksDuringLongTextsWithoutChangingTheResult) {
    int yields = 0;
    Pacer pacer([&] { ++yields; }, std::chrono::microseconds(0));
    const std::string text = randomBytes(1 << 20, 5);
    EXPECT_EQ(Seal(text, "key", &pacer), Seal(text, "key"));
    EXPECT_EQ(Unseal(Seal(text, "key"), "key", &pacer), text);
    EXPECT_GT(yields, 10);
}

// Every kernel set this processor runs is checked against the portable forms, which follow
// the reference rules step by step.
class KernelSetTest : public ::testing::TestWithParam<const kernels::KernelSet*> {
  protected:
    const kernels::KernelSet& set() const { return *GetParam(); }
};

const uint8_t* in(const std::string& s, size_t offset = 0) {
    return reinterpret_cast<const uint8_t*>(s.data()) + offset;
}
uint8_t* out(std::string& s, size_t offset = 0) {
    return reinterpret_cast<uint8_t*>(s.data()) + offset;
}

// Equal byte strings, or where the first difference is (long strings are not printed whole).
::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
    const auto [a, e] =
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (a == actual.end() && e == expected.end()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at " << (a - actual.begin());
}

// Lengths around every vector width and step, and a few long ones.
std::vector<size_t> testLengths() {
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 200; ++n) {
        lengths.push_back(n);
    }
    for (const size_t n : {255, 256, 257, 383, 384, 385, 4095, 49152, 65536 + 7, 100003}) {
        lengths.push_back(n);
    }
    return lengths;
}

constexpr uint32_t kStates[] = {0, 0x938F86, 0xFFFFFFFF, 0x12000000, 0x00FFFFFF};

// Bytes of the printable range with some codes outside it here and there, so that vector
// code meets both its fast path and the reference rule within one call.
std::string mostlyPrintable(size_t n, unsigned seed, int foreignOneIn) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        const bool foreign = static_cast<int>(gen() % static_cast<unsigned>(foreignOneIn)) == 0;
        c = static_cast<char>(foreign ? gen() % 256 : kernels::kFirstCode + gen() % 64);
    }
    return s;
}

TEST_P(KernelSetTest, xorKeyStreamMatchesFromAnyStateLengthAndAlignment) {
    size_t round = 0;
    for (const size_t n : testLengths()) {
        const uint32_t state = kStates[round % std::size(kStates)];
        const size_t offset = round++ % 7;
        const std::string original = randomBytes(n + offset, static_cast<unsigned>(n));
        std::string a = original, b = original;
        EXPECT_EQ(set().xorKeyStream(state, out(a, offset), n),
                  kernels::portable::xorKeyStream(state, out(b, offset), n))
            << n;
        ASSERT_TRUE(sameBytes(a, b)) << "length " << n << ", state " << state;
    }
}

TEST_P(KernelSetTest, stretchMatchesForEveryLengthAndWritesNoFurther) {
    size_t round = 0;
    for (const size_t n : testLengths()) {
        const size_t offset = round++ % 5;
        const std::string text = randomBytes(n + offset, static_cast<unsigned>(n) + 1);
        const size_t size = kernels::stretchedSize(n);
        std::string a(size + offset + 64, '#'), b = a;
        set().stretch(in(text, offset), n, out(a, offset));
        kernels::portable::stretch(in(text, offset), n, out(b, offset));
        ASSERT_TRUE(sameBytes(a, b)) << "length " << n;
    }
}

TEST_P(KernelSetTest, xorStretchIsXorThenStretch) {
    size_t round = 0;
    for (const size_t n : testLengths()) {
        const uint32_t state = kStates[round % std::size(kStates)];
        const size_t offset = round++ % 3;
        const std::string text = randomBytes(n + offset, static_cast<unsigned>(n) + 2);
        const std::string textBefore = text;

        std::string xored = text;
        const uint32_t after = kernels::portable::xorKeyStream(state, out(xored, offset), n);
        std::string expected(kernels::stretchedSize(n) + 64, '#');
        kernels::portable::stretch(in(xored, offset), n, out(expected));

        std::string sealed(expected.size(), '#');
        EXPECT_EQ(set().xorStretch(state, in(text, offset), n, out(sealed)), after) << n;
        ASSERT_TRUE(sameBytes(sealed, expected)) << "length " << n << ", state " << state;
        ASSERT_TRUE(sameBytes(text, textBefore));
    }
}

TEST_P(KernelSetTest, shrinkMatchesOnAnyBytes) {
    size_t round = 0;
    for (const size_t n : testLengths()) {
        const size_t groups = n / 4 + n % 3;
        const size_t offset = round % 4;
        // Random bytes (mostly foreign), printable ones with a few foreign codes, sealed text.
        const std::string inputs[] = {
            randomBytes(4 * groups + offset, static_cast<unsigned>(n) + 3),
            mostlyPrintable(4 * groups + offset, static_cast<unsigned>(n) + 4, 97),
            std::string(offset, 'x') + Seal(randomBytes(3 * groups, static_cast<unsigned>(n)), "k"),
        };
        for (const std::string& input : inputs) {
            std::string a(3 * groups + offset + 64, '#'), b = a;
            set().shrinkGroups(in(input, offset), groups, out(a, offset));
            kernels::portable::shrinkGroups(in(input, offset), groups, out(b, offset));
            ASSERT_TRUE(sameBytes(a, b)) << "groups " << groups;

            const uint32_t state = kStates[round++ % std::size(kStates)];
            std::string expected = b;
            const uint32_t after =
                kernels::portable::xorKeyStream(state, out(expected, offset), 3 * groups);
            std::string c(a.size(), '#');
            EXPECT_EQ(set().shrinkXor(state, in(input, offset), groups, out(c, offset)), after);
            ASSERT_TRUE(sameBytes(c, expected)) << "groups " << groups << ", state " << state;
        }
    }
}

// Makes a kernel set active for one scope.
class UsingKernelSet {
  public:
    explicit UsingKernelSet(const char* name) : previous_(kernels::activeKernelSet().name) {
        EXPECT_TRUE(kernels::useKernelSet(name)) << name;
    }
    ~UsingKernelSet() { kernels::useKernelSet(previous_); }
    UsingKernelSet(const UsingKernelSet&) = delete;
    UsingKernelSet& operator=(const UsingKernelSet&) = delete;

  private:
    std::string previous_;
};

// A text long enough for Seal and Unseal to take their large-buffer path, sealed with the
// portable kernels; and a sealed text with foreign codes, unsealed with them.
struct ReferenceSeal {
    std::string text = randomBytes((size_t{8} << 20) + 1, 9);
    std::string sealed, foreign, unsealedForeign;

    ReferenceSeal() {
        const UsingKernelSet portable("portable");
        sealed = Seal(text, "kumquat");
        foreign = sealed;
        for (size_t i = 0; i < foreign.size(); i += 1009) {
            foreign[i] = static_cast<char>(i % 59);
        }
        unsealedForeign = Unseal(foreign, "kumquat");
    }
};

TEST_P(KernelSetTest, sealAndUnsealGiveTheReferenceBytes) {
    static const ReferenceSeal reference;
    const UsingKernelSet active(set().name);
    EXPECT_EQ(Seal("Hello, world", "kumquat"), "kHuFjezoxa=wPgoH");
    EXPECT_TRUE(sameBytes(Seal(reference.text, "kumquat"), reference.sealed));
    EXPECT_TRUE(sameBytes(Unseal(reference.sealed, "kumquat"), reference.text));
    EXPECT_TRUE(sameBytes(Unseal(reference.foreign, "kumquat"), reference.unsealedForeign));
}

INSTANTIATE_TEST_SUITE_P(Available, KernelSetTest,
                         ::testing::ValuesIn(kernels::availableKernelSets().begin(),
                                             kernels::availableKernelSets().end()),
                         [](const auto& info) { return std::string(info.param->name); });

TEST(Kernels, portableSetComesFirstAndUnknownNamesAreRefused) {
    const auto sets = kernels::availableKernelSets();
    ASSERT_FALSE(sets.empty());
    EXPECT_STREQ(sets.front()->name, "portable");
    EXPECT_FALSE(kernels::useKernelSet("no-such-set"));
    EXPECT_NE(std::find(sets.begin(), sets.end(), &kernels::activeKernelSet()), sets.end());
}

TEST(Kernels, jumpAheadEqualsSingleSteps) {
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
