#pragma once

// Texts cross to Win32 as UTF-16: the program's texts and paths are UTF-8 inside, and bytes
// that are no UTF-8 are shown in the ANSI code page, so nothing is ever dropped.

#include <windows.h>

#include <string>

namespace vantory::winui {

std::wstring Wide(const std::string& text);
std::string Narrow(const std::wstring& text);

// The text of a window or control, as UTF-8.
std::string WindowText(HWND window);
void SetWindowTextUtf8(HWND window, const std::string& text);

// The system's face for messages at `dpi` dots per inch: its own size, or `points` when above
// 0, bold when asked. The caller deletes it.
HFONT MessageFont(UINT dpi, double points = 0, bool bold = false);

}  // namespace vantory::winui
