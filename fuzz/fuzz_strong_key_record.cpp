// A strong store's key record from the input: whatever parses is the very text that
// formatting the parsed key writes, with costs that may be used; nothing else parses.

#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "store/strong_key_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantory;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string problem;
    const std::optional<vantory::WrappedKey> key = parseStrongKeyRecord(text, problem);
    FUZZ_CHECK(key.has_value() == problem.empty());
    if (key) {
        FUZZ_CHECK(acceptableKdfParameters(key->kdf));
        FUZZ_CHECK(formatStrongKeyRecord(*key) == text);
    }
    return 0;
}
