#include <gtest/gtest.h>

#include <random>
#include <string>

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
    const std::pair<size_t, size_t> lengths[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 3},
                                                 {6, 4}, {7, 5}, {8, 6}, {9, 6}};
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

TEST(Kernels, everyFormMatchesThePortableOne) {
    for (const size_t n : {0, 1, 2, 3, 5, 31, 32, 33, 95, 96, 97, 1000, 65536 + 7}) {
        std::string a = randomBytes(n, static_cast<unsigned>(n)), b = a;
        EXPECT_EQ(kernels::xorKeyStream(0x123456, reinterpret_cast<uint8_t*>(a.data()), n),
                  kernels::portable::xorKeyStream(0x123456, reinterpret_cast<uint8_t*>(b.data()), n));
        EXPECT_EQ(a, b);

        std::string s1(kernels::stretchedSize(n), '\0'), s2 = s1;
        kernels::stretch(reinterpret_cast<const uint8_t*>(a.data()), n,
                         reinterpret_cast<uint8_t*>(s1.data()));
        kernels::portable::stretch(reinterpret_cast<const uint8_t*>(a.data()), n,
                                   reinterpret_cast<uint8_t*>(s2.data()));
        EXPECT_EQ(s1, s2);

        // Shrink of arbitrary bytes, printable and not.
        const std::string any = randomBytes(4 * (n / 4), 11);
        std::string r1(3 * (n / 4), '\0'), r2 = r1;
        kernels::shrinkGroups(reinterpret_cast<const uint8_t*>(any.data()), n / 4,
                              reinterpret_cast<uint8_t*>(r1.data()));
        kernels::portable::shrinkGroups(reinterpret_cast<const uint8_t*>(any.data()), n / 4,
                                        reinterpret_cast<uint8_t*>(r2.data()));
        EXPECT_EQ(r1, r2);
    }
}

}  // namespace
}  // namespace vantory
