// The record of a change of password from the input: whatever decodes is a preparing or a
// committed record, never both, and encodes to a record that decodes to the same.

#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "store/password_change_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantory;
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const std::optional<PasswordChangeRecord> record = DecodePasswordChangeRecord(content);
    if (!record) {
        return 0;
    }
    FUZZ_CHECK(record->committed ? record->names.empty() && record->storageDir.empty()
                                 : record->renames.empty() && record->password.empty());
    FUZZ_CHECK(DecodePasswordChangeRecord(EncodePasswordChangeRecord(*record)) == record);
    return 0;
}
