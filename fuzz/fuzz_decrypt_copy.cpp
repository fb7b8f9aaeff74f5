// decryptFileCopy, sealed, on an arbitrary stored file under a key taken from the input.
// Checks, for every input:
//  - the copy succeeds and the restored file holds Unseal of the content less a final CR LF;
//  - the stored file is still there with its bytes, its attributes cleared;
//  - the restored file is private (0600) and carries no attributes;
//  - nothing else is left in the folder (no temporary file);
//  - a StoredFileUnsealer fed the content in pieces gives the same bytes, so a piece border
//    that falls inside the closing CR LF or a group is handled as the whole-file copy is.
// The stored file keeps attributes 7 when the second input byte is odd, as at rest.
// Input: one byte for the key length, the key, then the stored content.

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "cipher/cipher.h"
#include "fuzz_support.h"
#include "platform/platform.h"
#include "store/program_state.h"
#include "store/sealed_copy.h"

namespace {

using namespace vantory;

std::string unsealInPieces(std::string_view key, std::string_view content, uint8_t seed) {
    StoredFileUnsealer unsealer(key);
    std::string out;
    size_t done = 0;
    for (size_t index = 0; done < content.size(); ++index) {
        const size_t n = std::min(fuzz::pieceLength(seed, index), content.size() - done);
        std::string written(StoredFileUnsealer::maxOutput(n), '\0');
        const size_t got = unsealer.update(reinterpret_cast<const uint8_t*>(content.data()) + done,
                                           n, reinterpret_cast<uint8_t*>(written.data()));
        FUZZ_CHECK(got <= written.size());
        out.append(written, 0, got);
        done += n;
    }
    std::string end(StoredFileUnsealer::kMaxFinishOutput, '\0');
    const size_t got = unsealer.finish(reinterpret_cast<uint8_t*>(end.data()));
    FUZZ_CHECK(got <= end.size());
    return out + end.substr(0, got);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const auto [key, content] = fuzz::splitKey(data, size, 24);
    const bool storedAtRest = size > 1 && (data[1] & 1) != 0;

    static const std::string folder = fuzz::scratchFolder() + "/copy";
    static const std::string stored = folder + "/100.txt";
    static const std::string restored = folder + "/restored";
    // The restored file of the previous input stays, so the copy also replaces a file.
    (void)platform::ensureFolder(folder);
    (void)platform::removeFile(stored);
    FUZZ_CHECK(platform::writeFileAtomically(stored, content).ok());
    if (storedAtRest) {
        FUZZ_CHECK(platform::setAttributes(stored, platform::kStoredAttributes).ok());
    }

    ProgramState state;
    state.strPassword = std::string(key);
    state.bolSlowRun = size > 2 && (data[2] & 1) != 0;
    fuzz::QuietUi ui;
    FUZZ_CHECK(decryptFileCopy(state, ui, stored, restored, true).ok());

    std::string_view sealed = content;
    if (sealed.size() >= 2 && sealed.substr(sealed.size() - 2) == "\r\n") {
        sealed.remove_suffix(2);
    }
    const std::string expected = Unseal(sealed, key);
    FUZZ_CHECK(platform::readWholeFile(restored) == expected);
    FUZZ_CHECK(platform::readWholeFile(stored) == std::string(content));
    FUZZ_CHECK(platform::getAttributes(stored) == platform::kNormal);
    FUZZ_CHECK(platform::getAttributes(restored) == platform::kNormal);
    struct stat info {};
    FUZZ_CHECK(::stat(restored.c_str(), &info) == 0 && (info.st_mode & 07777) == 0600);
    FUZZ_CHECK(fuzz::folderNames(folder) == (std::vector<std::string>{"100.txt", "restored"}));
    FUZZ_CHECK(ui.messages == 0);

    FUZZ_CHECK(unsealInPieces(key, content, data[0]) == expected);
    return 0;
}
