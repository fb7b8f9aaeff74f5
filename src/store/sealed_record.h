#pragma once

// The small records Vantory keeps beside the settings file while work is unfinished: a
// header line naming the kind of record, then lines of text, each sealed under the password
// and ended by CR LF, written whole.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace vantory {

platform::Status WriteSealedRecord(const std::string& path, std::string_view header,
                                   const std::vector<std::string>& lines, std::string_view key);

// The lines after the header; nullopt when there is no record (`readable` true) or when it
// cannot be read or is not of this kind (`readable` false).
std::optional<std::vector<std::string>> ReadSealedRecord(const std::string& path,
                                                         std::string_view header,
                                                         std::string_view key, bool& readable);

// Removes the record and makes that durable; success when there was none.
platform::Status RemoveSealedRecord(const std::string& path);

}  // namespace vantory
