// decryptFileCopy, sealed, on an arbitrary stored file under a key from the input (a byte
// for the key length, the key, the stored content). For every input: the restored file holds
// Unseal of the content less a final CR LF, is private and has no attributes; the stored file
// stays with its bytes, attributes cleared (they are 7 before when the second byte is odd);
// nothing else is left; a StoredFileUnsealer fed the content in pieces gives the same bytes.

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "cipher/cipher.h"
#include "fuzz_support.h"
#include "platform/platform.h"
#include "store/program_state.h"
#include "store/sealed_copy.h"

using namespace vantory;

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

    StoredFileUnsealer unsealer(key);
    FUZZ_CHECK(fuzz::streamInPieces(unsealer, content, data[0]) == expected);
    return 0;
}
