#pragma once

// The record of a strong store's key: the wrapped master key with the salt and costs it was
// wrapped with (cipher/strong_key.h). A text of six lines, each ending in LF:
//
//     vantory strong key 1
//     argon2id passes=3 memory=65536 lanes=1      (memory in KiB)
//     salt=<16 bytes in lower-case hexadecimal>
//     nonce=<12 bytes>
//     wrapped=<48 bytes: the sealed master key and its tag>
//     check=<SHA-256 of the five lines above, with their line ends>
//
// The wrap already refuses any change to what it depends on, but only as a password that does
// not open it; the check line tells damage to the record apart from a wrong password. The
// number on the first line is the format's version.

#include <optional>
#include <string>
#include <string_view>

#include "cipher/strong_key.h"

namespace vantory {

std::string formatStrongKeyRecord(const WrappedKey& key);

// The wrapped key of a record, or nullopt with what is wrong in `problem` (the end of a
// sentence "The key record cannot be used: <problem>.").
std::optional<WrappedKey> parseStrongKeyRecord(std::string_view text, std::string& problem);

}  // namespace vantory
