#include "store/sealed_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cipher/cipher.h"
#include "commands/command_context.h"
#include "platform/fault_injection.h"
#include "store/settings_file.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

using namespace test;

constexpr const char* kPassword = "kumquat";
constexpr size_t kPiece = kSealedCopyPiece;

std::string randomBytes(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::string s(n, '\0');
    std::generate(s.begin(), s.end(), [&] { return static_cast<char>(random()); });
    return s;
}

// Cuts `text` into pieces of random lengths, mostly short ones, and returns their ends.
std::vector<size_t> randomCuts(size_t length, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<size_t> cuts;
    for (size_t at = 0; at < length;) {
        const size_t step = random() % 8 == 0 ? random() % 70000 : random() % 9;
        at = std::min(length, at + step);
        cuts.push_back(at);
    }
    cuts.push_back(length);
    return cuts;
}

uint8_t* bytes(std::string& s) {
    return reinterpret_cast<uint8_t*>(s.data());
}

// Feeds `input` in pieces ending at `cuts` (those past its end are cut at its end), then the rest.
template <typename Streamer>
std::string streamInPieces(Streamer& streamer, std::string input, const std::vector<size_t>& cuts) {
    std::string out(Streamer::maxOutput(input.size()) + 2 * cuts.size() + 16, '\0');
    size_t written = 0, from = 0;
    for (const size_t cut : cuts) {
        const size_t to = std::max(from, std::min(cut, input.size()));
        written += streamer.update(bytes(input) + from, to - from, bytes(out) + written);
        from = to;
    }
    written += streamer.update(bytes(input) + from, input.size() - from, bytes(out) + written);
    written += streamer.finish(bytes(out) + written);
    out.resize(written);
    return out;
}

// Sealing, unsealing and unsealing a stored file (dropping only a final line end) in pieces
// give the bytes of the whole text, also for input that no sealing made.
TEST(SealStreaming, piecesGiveTheBytesOfTheWholeText) {
    const std::string hello = Seal("hello, world", kPassword);
    std::vector<std::string> contents = {
        "",         "\r",         "\n",        "\r\n",         "\n\r",
        "a",        "ab",         "ab\r",      "ab\n",         "abc\r\n",
        "\r\n\r\n", "abcd\r\nxy", "xyz\r\r\n", hello + "\r\n", hello + "\r\n\r\n",
        hello,      hello + "\n", "a\rb",
    };
    uint32_t seed = 1;
    for (const size_t length : {6, 7, 8, 9, 10, 11, 40, 100, 100003, 147461, 300001}) {
        contents.push_back(randomBytes(length, ++seed));
    }
    for (const std::string& content : contents) {
        const std::string sealed = Seal(content, kPassword);
        const std::string stored = Unseal(
            content.ends_with("\r\n") ? content.substr(0, content.size() - 2) : content, kPassword);
        // Random pieces; for short input one byte at a time, and two pieces cut at every place.
        std::vector<std::vector<size_t>> cutLists = {randomCuts(content.size(), ++seed), {}};
        for (size_t i = 0; content.size() < 50 && i <= content.size(); ++i) {
            cutLists[1].push_back(i);
            cutLists.push_back({i});
        }
        for (const auto& cuts : cutLists) {
            SCOPED_TRACE(::testing::Message() << content.size() << " bytes in " << cuts.size());
            Sealer sealer(kPassword);
            EXPECT_TRUE(streamInPieces(sealer, content, cuts) == sealed);
            Unsealer unsealer(kPassword), rawUnsealer(kPassword);
            EXPECT_TRUE(streamInPieces(unsealer, sealed, cuts) == content);
            EXPECT_TRUE(streamInPieces(rawUnsealer, content, cuts) == Unseal(content, kPassword));
            StoredFileUnsealer storedUnsealer(kPassword);
            EXPECT_TRUE(streamInPieces(storedUnsealer, content, cuts) == stored);
        }
    }
}

struct Fixture {
    TempFolder dir;
    FakeUiServices ui;
    ProgramState state;
    Fixture() {
        state.strPassword = kPassword;
        state.strStorageDir = dir / "store/";
    }
};

TEST(SealedCopy, storesAndRestoresEveryContentByteForByte) {
    Fixture f;
    std::string everyByte(256, '\0');
    std::iota(everyByte.begin(), everyByte.end(), '\0');
    std::vector<std::string> contents = {"",     "a",     "ab",      "abc",
                                         "abcd", "abcde", everyByte, "line one\r\nline two\r\n",
                                         "\r\n", "\r",    "\n"};
    for (const size_t n : {kPiece - 1, kPiece, kPiece + 1, kPiece + 2, 2 * kPiece + 3}) {
        contents.push_back(randomBytes(n, static_cast<uint32_t>(n)));
    }
    contents.push_back(randomBytes(kPiece - 2, 9) + "\r\n");
    // Longer than the generator's period, copied with slow run: that serves the window system.
    contents.push_back(randomBytes((size_t{16} << 20) + 12345, 16));

    const std::string original = f.dir / "original.bin";
    const std::string stored = f.state.strStorageDir + "100.txt";
    const std::string restored = f.dir / "restored.bin";
    writeFile(original, "");  // a script: its bits come back from its sealed copy
    std::filesystem::permissions(original, std::filesystem::perms(0754));
    const auto holds = [](const std::string& path, const std::string& bytes, int attributes) {
        return readFile(path) == bytes && platform::getAttributes(path) == attributes;
    };
    // Every destination is there before, read-only: each copy replaces it.
    const auto earlier = [](const std::string& path) {
        writeFile(path, "earlier");
        ASSERT_TRUE(platform::setAttributes(path, platform::kStoredAttributes).ok());
    };
    // Every file made is flushed before it is renamed into place; the committing thread does both.
    std::set<std::string, std::less<>> flushed;
    size_t renamed = 0;
    platform::setFaultHook([&](platform::Operation op, std::string_view path, std::string_view) {
        if (op == platform::Operation::kFlush) {
            flushed.emplace(path);
        } else if (op == platform::Operation::kRename && path.find(".vantory-") != path.npos) {
            ++renamed;
            EXPECT_TRUE(flushed.contains(path)) << path << " was renamed before it was flushed";
        }
        return 0;
    });
    const std::shared_ptr<void> unhook(nullptr, [](void*) { platform::setFaultHook({}); });
    for (const std::string& content : contents) {
        SCOPED_TRACE(content.size());
        f.state.bolSlowRun = &content == &contents.back();
        writeFile(original, content);
        if (&content != &contents.front()) {  // the first copy makes the storage folder
            earlier(stored);
        }
        earlier(restored);

        // Sealed: the original stays, the stored file is the sealed text and a line end.
        WindowPacing pacing(f.state, f.ui);
        ASSERT_TRUE(encryptFileCopy(f.state, original, stored, true, pacing.slowRun()).ok());
        EXPECT_TRUE(holds(original, content, 0));
        // The slow-run pacer counts the bytes read, for the busy window.
        const FileBytes counted = {content.size(), content.size()};
        EXPECT_EQ(f.state.fileBytes, f.state.bolSlowRun ? counted : FileBytes());
        EXPECT_TRUE(holds(stored, Seal(content, kPassword) + "\r\n", platform::kStoredAttributes));
        // Resealed in place under another password, and back.
        ASSERT_TRUE(resealFile(stored, stored, kPassword, "new password").ok());
        EXPECT_TRUE(
            holds(stored, Seal(content, "new password") + "\r\n", platform::kStoredAttributes));
        ASSERT_TRUE(resealFile(stored, stored, "new password", kPassword).ok());

        ASSERT_TRUE(decryptFileCopy(f.state, stored, restored, true, platform::Existing::kReplace,
                                    nullptr, pacing.slowRun())
                        .ok());
        EXPECT_TRUE(holds(restored, content, 0));
        EXPECT_PERMISSIONS(restored, 0754u);
        EXPECT_EQ(f.ui.yields > 0, f.state.bolSlowRun) << "yielding with slow run alone";
        EXPECT_EQ(platform::getAttributes(stored), 0) << "the stored file stays, cleared";
        ASSERT_TRUE(platform::copyFile(restored, restored + ".copy").ok());

        // Plain: the file itself goes into storage and back.
        earlier(stored);
        ASSERT_TRUE(encryptFileCopy(f.state, original, stored, false).ok());
        EXPECT_FALSE(platform::pathExists(original));
        EXPECT_TRUE(holds(stored, content, platform::kStoredAttributes));
        earlier(original);
        ASSERT_TRUE(decryptFileCopy(f.state, stored, original, false).ok());
        EXPECT_FALSE(platform::pathExists(stored));
        EXPECT_TRUE(holds(original, content, 0));
    }
    EXPECT_EQ(namesIn(f.state.strStorageDir), std::set<std::string>{})
        << "no temporary file is left in storage";
    EXPECT_EQ(renamed, 5 * contents.size());
}

// Whatever fails, on a full disk too (a write past the limit fails with EFBIG), the source and
// the old destination stay with their attributes, and no temporary file is left.
TEST(SealedCopy, failuresKeepTheSourceAndTheOldDestination) {
    Fixture f;
    const auto kept = [&](const std::string& name) {
        return readFile(f.dir / name).substr(0, 4) + ":" +
               std::to_string(platform::getAttributes(f.dir / name).value_or(-1));
    };
    const std::string stored = f.dir / "stored", sealed = f.dir / "sealed", big = f.dir / "big";
    writeFile(stored, "old");
    ASSERT_TRUE(platform::setAttributes(stored, platform::kStoredAttributes).ok());
    writeFile(f.dir / "source", "mine");
    writeFile(f.dir / "plainfile", "");
    ASSERT_TRUE(platform::makeFolder(f.dir / "folder").ok());
    writeFile(big, randomBytes(300000, 3));
    ASSERT_TRUE(sealFile(big, sealed, kPassword).ok());
    const std::set<std::string> before = namesIn(f.dir.path());
    for (const bool seal : {true, false}) {
        EXPECT_EQ(encryptFileCopy(f.state, f.dir / "missing", stored, seal).error, ENOENT);
        EXPECT_EQ(decryptFileCopy(f.state, f.dir / "missing", f.dir / "o", seal).error, ENOENT);
        EXPECT_FALSE(encryptFileCopy(f.state, f.dir / "source", f.dir / "plainfile/x", seal).ok());
        EXPECT_FALSE(decryptFileCopy(f.state, stored, f.dir / "plainfile/x", seal).ok());
    }
    EXPECT_EQ(encryptFileCopy(f.state, f.dir / "folder", stored, true).error, EISDIR);
    EXPECT_TRUE(test::onAFullDisk([&] {
        FakeUiServices ui;
        return encryptFileCopy(f.state, big, stored, true).error == EFBIG &&
               decryptFileCopy(f.state, sealed, f.dir / "source", true).error == EFBIG;
    })) << "both copies should fail with EFBIG";
    EXPECT_EQ((std::vector<std::string>{kept("stored"), kept("source"), kept("sealed").substr(4)}),
              (std::vector<std::string>{"old:7", "mine:0", ":7"}));
    EXPECT_EQ(namesIn(f.dir.path()), before);
}

// A batch commits its files in order up to the first that fails, on its flush or its rename
// (an unsealed file never replaces one): that one and the later ones are not committed, leave
// no temporary file, and what stood under their names stays.
TEST(CopyBatch, commitsInOrderUpToTheFirstFailure) {
    for (const bool sealing : {true, false}) {
        SCOPED_TRACE(sealing ? "sealed, the third flush fails" : "unsealed, the third is taken");
        Fixture f;
        const std::string out = f.dir / "out/";
        std::vector<std::string> sources, targets;
        for (int i = 0; i < 4; ++i) {
            sources.push_back(f.dir / ("source " + std::to_string(i)));
            targets.push_back(out + std::to_string(100 + i) + ".txt");
            writeFile(sources.back(), randomBytes(1000 + 500 * i, i));
            if (!sealing) {
                ASSERT_TRUE(sealFile(sources.back(), sources.back(), kPassword).ok());
            }
        }
        if (!sealing) {
            ASSERT_TRUE(platform::makeFolder(out).ok());
            writeFile(targets[2], "taken");
        }
        platform::setFaultHook([&](platform::Operation op, std::string_view path, auto) {
            return sealing && op == platform::Operation::kFlush && path.find(".102.") != path.npos
                       ? EIO
                       : 0;
        });
        const std::shared_ptr<void> unhook(nullptr, [](void*) { platform::setFaultHook({}); });
        CopyBatch batch(f.state);
        for (size_t i = 0; i < 4; ++i) {
            ASSERT_TRUE((sealing ? batch.seal(sources[i], targets[i])
                                 : batch.unseal(sources[i], targets[i]))
                            .ok());
        }
        EXPECT_EQ(namesIn(out).size(), sealing ? 4u : 5u) << "only temporary files until commit";
        std::vector<int> errors;
        for (const Status& status : batch.commit()) {
            errors.push_back(status.error);
        }
        const int error = sealing ? EIO : EEXIST;
        EXPECT_EQ(errors, (std::vector<int>{0, 0, error, error}));
        for (size_t i = 0; i < 2; ++i) {
            const std::string content = readFile(sources[i]);
            EXPECT_EQ(readFile(targets[i]),
                      sealing ? Seal(content, kPassword) + "\r\n"
                              : Unseal(content.substr(0, content.size() - 2), kPassword));
            EXPECT_EQ(platform::getAttributes(targets[i]),
                      sealing ? platform::kStoredAttributes : 0);
        }
        const std::set<std::string> left = namesIn(out);
        EXPECT_EQ(left.size(), sealing ? 2u : 3u);
        EXPECT_TRUE(left.count("100.txt") == 1 && left.count("101.txt") == 1);
        EXPECT_TRUE(sealing || readFile(targets[2]) == "taken");
    }
}

}  // namespace
}  // namespace vantory
