// decryptFileCopy on any stored file under a key from the input: the restored file is Unseal of
// it less a final CR LF, private, attributes 0; the stored file stays, cleared; so does streaming.

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
    FUZZ_CHECK(!storedAtRest || platform::setAttributes(stored, platform::kStoredAttributes).ok());

    ProgramState state;
    state.strPassword = std::string(key);
    state.bolSlowRun = size > 2 && (data[2] & 1) != 0;
    fuzz::QuietUi ui;
    FUZZ_CHECK(decryptFileCopy(state, stored, restored, true).ok());

    std::string_view sealed = content;
    if (sealed.ends_with("\r\n")) {
        sealed.remove_suffix(2);
    }
    const std::string expected = Unseal(sealed, key);
    FUZZ_CHECK(platform::readWholeFile(restored) == expected);
    FUZZ_CHECK(platform::readWholeFile(stored) == std::string(content));
    FUZZ_CHECK(platform::getAttributes(stored) == 0 && platform::getAttributes(restored) == 0);
    struct stat info {};
    FUZZ_CHECK(::stat(restored.c_str(), &info) == 0 && (info.st_mode & 07777) == 0600);
    FUZZ_CHECK(fuzz::folderNames(folder) == (std::set<std::string>{"100.txt", "restored"}));
    FUZZ_CHECK(ui.messages == 0);

    StoredFileUnsealer unsealer(key);
    FUZZ_CHECK(fuzz::streamInPieces(unsealer, content, data[0]) == expected);
    return 0;
}
