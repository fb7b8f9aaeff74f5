// The strong store's cryptography: known answers, keys, the sealed stream and its refusals.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cipher/aead.h"
#include "cipher/strong_key.h"
#include "cipher/strong_stream.h"
#include "store/strong_copy.h"
#include "store/strong_key_file.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

using namespace test;

std::string hex(std::string_view text) {
    std::string bytes;
    EXPECT_TRUE(fromHex(text, bytes)) << text;
    return bytes;
}

const uint8_t* bytesOf(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

SecretBytes secret(const std::string& bytes) {
    return SecretBytes(bytesOf(bytes), bytes.size());
}

std::string randomContent(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(n, '\0');
    std::generate(s.begin(), s.end(), [&] { return static_cast<char>(random()); });
    return s;
}

// Runs `stream` over `input` in pieces of `piece` bytes (0: in one piece), then finishes it.
template <class Stream>
std::string run(Stream& stream, const std::string& input, size_t piece = 0) {
    std::string out;
    std::string buffer(Stream::maxOutput(input.size()) + Stream::kMaxFinishOutput, '\0');
    auto* to = reinterpret_cast<uint8_t*>(buffer.data());
    for (size_t at = 0; at < input.size();) {
        const size_t n = piece == 0 ? input.size() : std::min(piece, input.size() - at);
        out.append(buffer.data(), stream.update(bytesOf(input) + at, n, to));
        at += n;
    }
    return out.append(buffer.data(), stream.finish(to));
}

// Low costs keep the tests quick; the costs themselves are the library's business.
const KdfParameters kQuick{1, 64, 1};

TEST(StrongKnownAnswers, matchThePublishedVectors) {
    // RFC 9106, 5.3: Argon2id with a secret and associated data.
    EXPECT_EQ(toHex(argon2id(std::string(32, 1), std::string(16, 2), {3, 32, 4}, 32,
                             std::string(8, 3), std::string(12, 4))
                        .data(),
                    32),
              "0d640df58d78766c08c037a34a8b53c9d01ef0452d75b65eb52520e96b01e659");

    // RFC 5869, test case 1.
    const SecretBytes okm =
        hkdfSha256(secret(std::string(22, 0x0b)), hex("000102030405060708090a0b0c"),
                   hex("f0f1f2f3f4f5f6f7f8f9"), 42);
    EXPECT_EQ(
        toHex(okm.data(), okm.size()),
        "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865");

    // RFC 8439, 2.8.2: sealing gives the published text and tag, and opening gives it back.
    std::string key(32, '\0');
    for (size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<char>(0x80 + i);
    }
    const std::string nonce = hex("070000004041424344454647"),
                      aad = hex("50515253c0c1c2c3c4c5c6c7");
    const std::string plain =
        "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the "
        "future, sunscreen would be it.";
    ChaCha20Poly1305 aead(secret(key));
    std::string sealed(plain.size() + kAeadTagSize, '\0');
    aead.seal(bytesOf(nonce), bytesOf(aad), aad.size(), bytesOf(plain), plain.size(),
              reinterpret_cast<uint8_t*>(sealed.data()));
    EXPECT_EQ(toHex(bytesOf(sealed), sealed.size()),
              "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282"
              "fafb69da92728b1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab3"
              "24e4fad675945585808b4831d7bc3ff4def08e4b7a9de576d26586cec64b6116"
              "1ae10b594f09e26a7e902ecbd0600691");
    std::string opened(plain.size(), '\0');
    ASSERT_TRUE(aead.open(bytesOf(nonce), bytesOf(aad), aad.size(), bytesOf(sealed), plain.size(),
                          reinterpret_cast<uint8_t*>(opened.data())));
    EXPECT_EQ(opened, plain);
}

// The wrap opens with its password only, a new password re-wraps the same master key, and
// password text is wiped once used. The record keeps the wrap as it was and tells damage
// apart from a wrong password.
TEST(StrongKey, unwrapsWithItsPasswordOnlyAndTheRecordRefusesDamage) {
    const SecretBytes master = newMasterKey();
    std::string password = "correct horse";
    const WrappedKey wrapped = wrapMasterKey(master, password, kQuick);
    EXPECT_TRUE(password.empty());

    std::string wrong = "correct horsE";
    EXPECT_FALSE(unwrapMasterKey(wrapped, wrong));
    EXPECT_TRUE(wrong.empty());
    password = "correct horse";
    const std::optional<SecretBytes> opened = unwrapMasterKey(wrapped, password);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(*opened == master);

    std::string newPassword = "battery staple";
    EXPECT_FALSE(rewrapMasterKey(wrapped, wrong = "wrong", newPassword));
    EXPECT_TRUE(newPassword.empty());
    newPassword = "battery staple";
    const std::optional<WrappedKey> rewrapped =
        rewrapMasterKey(wrapped, password = "correct horse", newPassword);
    ASSERT_TRUE(rewrapped);
    EXPECT_EQ(rewrapped->kdf, kQuick);
    EXPECT_FALSE(unwrapMasterKey(*rewrapped, password = "correct horse"));
    const std::optional<SecretBytes> again =
        unwrapMasterKey(*rewrapped, newPassword = "battery staple");
    ASSERT_TRUE(again);
    EXPECT_TRUE(*again == master);

    const std::string record = formatStrongKeyRecord(wrapped);
    std::string problem;
    ASSERT_EQ(parseStrongKeyRecord(record, problem), std::optional(wrapped)) << problem;

    // The record with its check line made again after a change, as someone who knows the
    // format could: the wrap still refuses it, as for a wrong password.
    const auto rechecked = [](std::string changed) {
        changed.resize(changed.find("check="));
        return changed + "check=" + toHex(sha256(changed).data(), 32) + "\n";
    };
    const auto flipped = [&](std::string_view field) {
        std::string changed = record;
        char& digit = changed[changed.find(field) + field.size() + 3];
        digit = digit == '0' ? '1' : '0';
        return changed;
    };
    const struct {
        const char* name;
        std::string record;
        std::string problem;  // empty: parsed, and the password does not open it
    } rows[] = {
        {"wrapped key changed", flipped("wrapped="),
         "it is damaged (its check does not match what it holds)"},
        {"salt changed", flipped("salt="),
         "it is damaged (its check does not match what it holds)"},
        {"wrapped key changed, check made again", rechecked(flipped("wrapped=")), ""},
        {"salt changed, check made again", rechecked(flipped("salt=")), ""},
        {"costs changed, check made again",
         rechecked(std::string(record).replace(record.find("passes=1"), 8, "passes=2")), ""},
        {"cut short", record.substr(0, record.size() - 1), "it is cut short"},
        {"a line added", record + "\n", "it is damaged (its check does not match what it holds)"},
        {"empty", "", "it is not a strong store's key record"},
        {"a classic settings file", "ekHwrLlhXK\r\n", "it is not a strong store's key record"},
        {"a newer version", "vantory strong key 2\n",
         "it was written by a newer version of Vantory"},
        {"a salt too short", rechecked(std::string(record).erase(record.find("salt=") + 5, 2)),
         "it is damaged (a line does not hold what Vantory writes there)"},
        {"costs out of range",
         rechecked(std::string(record).replace(record.find("memory=64"), 9, "memory=99999999")),
         "its key-derivation costs are beyond what Vantory accepts"},
    };
    for (const auto& row : rows) {
        std::string why;
        const std::optional<WrappedKey> parsed = parseStrongKeyRecord(row.record, why);
        EXPECT_EQ(why, row.problem) << row.name;
        if (row.problem.empty() && parsed) {
            std::string right = "correct horse";
            EXPECT_FALSE(unwrapMasterKey(*parsed, right)) << row.name;
        }
    }
}

const std::string kFixtureContent = "Vantory's strong store keeps this line.\n";
// Sealed once with the master key 00 01 .. 1f, the nonce a0 a1 .. af and the binding "100".
const char* const kFixture =
    "8956414e544f52590143a352b230a821d6a0a1a2a3a4a5a6a7a8a9aaabacadae"
    "af000000000000002803313030713d6f296714a9b2928f11c3faa39a29ce4753"
    "5fd0259bc6f47f30706e39af363e3d51095253c7b86f58e4113e7eeef5df8ba7"
    "30547dc45a7a2f68e6530a0ae00bc6c5581cce0ba2";

SecretBytes fixtureKey() {
    std::string key(32, '\0');
    for (size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<char>(i);
    }
    return secret(key);
}

TEST(StrongStream, aFileSealedByThisVersionKeepsOpening) {
    const SecretBytes key = fixtureKey();
    FileNonce nonce;
    for (size_t i = 0; i < nonce.size(); ++i) {
        nonce[i] = static_cast<uint8_t>(0xa0 + i);
    }
    StrongSealer sealer(key, "100", kFixtureContent.size(), nonce);
    const std::string sealed = run(sealer, kFixtureContent);
    EXPECT_EQ(toHex(bytesOf(sealed), sealed.size()), kFixture);
    StrongOpener opener(key, "100");
    EXPECT_EQ(run(opener, hex(kFixture)), kFixtureContent);
    EXPECT_EQ(opener.refusal(), StrongRefusal::kNone);
}

// Contents of every length around the chunk size come back whole, whatever the pieces they
// are sealed and opened in, and the sealed size is as predicted.
TEST(StrongStream, givesBackEveryContentInAnyPieces) {
    const SecretBytes key = newMasterKey();
    unsigned seed = 1;
    for (const size_t size : {size_t{0}, size_t{1}, kStrongChunk - 1, kStrongChunk,
                              kStrongChunk + 1, 3 * kStrongChunk, 3 * kStrongChunk + 17}) {
        const std::string content = randomContent(size, ++seed);
        for (const size_t piece : {size_t{0}, size_t{1000}, kStrongChunk + 7}) {
            StrongSealer sealer(key, "entry 7", size);
            const std::string sealed = run(sealer, content, piece);
            EXPECT_EQ(sealer.refusal(), StrongRefusal::kNone);
            EXPECT_EQ(sealed.size(), strongFileSize(size, 7)) << size;
            StrongOpener opener(key, "entry 7");
            EXPECT_EQ(run(opener, sealed, piece == 0 ? 0 : piece + 3), content)
                << size << "/" << piece;
            EXPECT_EQ(opener.refusal(), StrongRefusal::kNone) << size << "/" << piece;
        }
    }
    // A content that is not as long as its size said is refused while sealing.
    for (const size_t given : {9, 11}) {
        StrongSealer sealer(key, "entry 7", 10);
        run(sealer, std::string(given, 'x'));
        EXPECT_EQ(sealer.refusal(), StrongRefusal::kChangedWhileRead) << given;
    }
}

// Every kind of damage or exchange is refused with its words, and what was handed on before
// the refusal is a start of the true content, never other bytes.
TEST(StrongStream, refusesEveryChangeInWords) {
    const SecretBytes key = newMasterKey();
    const SecretBytes otherKey = newMasterKey();
    const std::string content = randomContent(2 * kStrongChunk + 100, 5);
    const auto sealedWith = [&](const SecretBytes& k, std::string_view binding) {
        StrongSealer sealer(k, binding, content.size());
        return run(sealer, content);
    };
    const std::string file = sealedWith(key, "101");
    const size_t header = kStrongHeaderFixed + 3;  // "101", then the header's tag
    const size_t chunk = kStrongChunk + kAeadTagSize;
    const size_t firstChunk = header + kAeadTagSize;
    const auto changed = [&](size_t at) {
        std::string f = file;
        f[at] = static_cast<char>(f[at] ^ 0x20);
        return f;
    };
    std::string swapped = file;
    std::swap_ranges(swapped.begin() + firstChunk, swapped.begin() + firstChunk + chunk,
                     swapped.begin() + firstChunk + chunk);
    std::string newer = file;
    newer[8] = 2;
    const struct {
        const char* name;
        std::string file;
        StrongRefusal refusal;
    } rows[] = {
        {"magic byte changed", changed(1), StrongRefusal::kNotStrongFile},
        {"newer version", newer, StrongRefusal::kNewerVersion},
        {"key id byte changed", changed(12), StrongRefusal::kOtherKey},
        {"nonce byte changed", changed(20), StrongRefusal::kChanged},
        {"size byte changed", changed(kStrongHeaderFixed - 3), StrongRefusal::kChanged},
        {"binding byte changed", changed(kStrongHeaderFixed), StrongRefusal::kOtherEntry},
        {"header tag byte changed", changed(header + 5), StrongRefusal::kChanged},
        {"first chunk byte changed", changed(firstChunk + 3), StrongRefusal::kChanged},
        {"middle chunk tag byte changed", changed(firstChunk + 2 * chunk - 1),
         StrongRefusal::kChanged},
        {"last chunk byte changed", changed(file.size() - 20), StrongRefusal::kChanged},
        {"cut inside the header", file.substr(0, 20), StrongRefusal::kCut},
        {"cut after the header", file.substr(0, firstChunk), StrongRefusal::kCut},
        {"cut at the first chunk boundary", file.substr(0, firstChunk + chunk),
         StrongRefusal::kCut},
        {"cut at the second chunk boundary", file.substr(0, firstChunk + 2 * chunk),
         StrongRefusal::kCut},
        {"cut inside a chunk", file.substr(0, firstChunk + chunk + 100), StrongRefusal::kCut},
        {"cut inside the last chunk", file.substr(0, file.size() - 1), StrongRefusal::kCut},
        {"a chunk appended", file + file.substr(firstChunk, chunk), StrongRefusal::kExtended},
        {"one byte appended", file + "x", StrongRefusal::kExtended},
        {"chunks reordered", swapped, StrongRefusal::kChanged},
        {"another entry's file", sealedWith(key, "102"), StrongRefusal::kOtherEntry},
        {"another store's file", sealedWith(otherKey, "101"), StrongRefusal::kOtherKey},
        {"empty", "", StrongRefusal::kNotStrongFile},
        {"a classic stored file", "ekHwrLlhXK\r\n", StrongRefusal::kNotStrongFile},
    };
    for (const auto& row : rows) {
        for (const size_t piece : {size_t{0}, size_t{4099}}) {
            StrongOpener opener(key, "101");
            const std::string out = run(opener, row.file, piece);
            EXPECT_EQ(strongRefusalWords(opener.refusal()), strongRefusalWords(row.refusal))
                << row.name << " in pieces of " << piece;
            EXPECT_EQ(out, content.substr(0, out.size())) << row.name;
        }
    }
}

// On disk: a sealed file opens back whole; a refused one leaves nothing beside its target.
TEST(StrongCopier, opensWholeFilesAndLeavesNothingOfARefusedOne) {
    TempFolder folder;
    const SecretBytes key = newMasterKey();
    StrongCopier copier(key);
    const std::string content = randomContent(3 * StrongCopier::kPiece + 5, 9);
    writeFile(folder / "original.bin", content);
    for (int round = 0; round < 2; ++round) {  // the buffers are used again
        const StrongOutcome sealed = copier.seal(folder / "original.bin", folder / "store/100.txt",
                                                 "100", 0600, platform::kNormal);
        ASSERT_TRUE(sealed.ok()) << sealed.message();
        const StrongOutcome opened = copier.open(folder / "store/100.txt", folder / "back.bin",
                                                 "100", 0600, platform::Existing::kKeep);
        ASSERT_TRUE(opened.ok()) << opened.message();
        EXPECT_EQ(readFile(folder / "back.bin"), content);
        std::filesystem::remove(folder / "back.bin");
    }
    std::string stored = readFile(folder / "store/100.txt");
    stored[stored.size() - 3] ^= 1;
    writeFile(folder / "store/100.txt", stored);
    const StrongOutcome refused = copier.open(folder / "store/100.txt", folder / "back.bin", "100");
    EXPECT_EQ(refused.refusal, StrongRefusal::kChanged);
    EXPECT_EQ(refused.message(), strongRefusalWords(StrongRefusal::kChanged));
    EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"original.bin", "store"}));
}

}  // namespace
}  // namespace vantory
