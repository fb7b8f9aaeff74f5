#pragma once

// What the Win32 sources share: those of the platform layer, and the Win32 windows for their
// texts.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace vantory::platform::detail {

// UTF-8 to UTF-16 and back; nullopt for bytes that are no UTF-8.
std::optional<std::wstring> widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// A path as the Win32 calls take it: UTF-16, backslashes, the \\?\ prefix when it is long.
std::optional<std::wstring> nativePath(std::string_view utf8);

// The errno of the same meaning as a Win32 error code (EIO for the ones without one).
int errnoFor(DWORD error);

DWORD attributesOf(const std::wstring& path);

}  // namespace vantory::platform::detail
