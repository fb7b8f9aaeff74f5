// The move journal from the input: whatever decodes, encodes to a journal that decodes to the
// same plan, under the same password; the first byte picks the password's length.

#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "store/move_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantory;
    if (size == 0) {
        return 0;
    }
    const fuzz::KeyAndText input = fuzz::splitKey(data, size, 16);
    const std::optional<MovePlan> plan = DecodeJournal(input.text, input.key);
    if (!plan) {
        return 0;
    }
    const std::string again = EncodeJournal(*plan, input.key);
    FUZZ_CHECK(DecodeJournal(again, input.key) == plan);
    FUZZ_CHECK(again.size() >= 4 && again.compare(again.size() - 2, 2, "\r\n") == 0);
    return 0;
}
