// A strong stored file from the input, opened under a fixed key: in pieces of three patterns
// it gives the same content and refusal, and a file it accepts is exactly what sealing that
// content under the file's own nonce writes, so no altered file ever opens.

#include <cstdint>
#include <cstring>
#include <string>

#include "cipher/strong_stream.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantory;
    static const SecretBytes* const key = [] {
        uint8_t bytes[32];
        for (uint8_t i = 0; i < 32; ++i) {
            bytes[i] = i;
        }
        return new SecretBytes(bytes, sizeof bytes);  // kept to the end
    }();
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    StrongOpener whole(*key, "100");
    const std::string content = fuzz::streamInPieces(whole, file, 0);
    for (const uint8_t seed : {uint8_t{1}, size == 0 ? uint8_t{2} : data[size - 1]}) {
        StrongOpener pieces(*key, "100");
        FUZZ_CHECK(fuzz::streamInPieces(pieces, file, seed) == content);
        FUZZ_CHECK(pieces.refusal() == whole.refusal());
    }
    if (whole.refusal() != StrongRefusal::kNone) {
        return 0;
    }
    FUZZ_CHECK(whole.size() == content.size());
    FileNonce nonce;
    std::memcpy(nonce.data(), data + 17, nonce.size());  // after the magic, version and key id
    StrongSealer sealer(*key, "100", content.size(), nonce);
    FUZZ_CHECK(fuzz::streamInPieces(sealer, content, 3) == file);
    return 0;
}
