#include "winui/win_text.h"

#include "platform/win32_detail.h"

namespace vantory::winui {

std::wstring Wide(const std::string& text) {
    if (const std::optional<std::wstring> wide = platform::detail::widen(text)) {
        return *wide;
    }
    const int n =
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                              n);
    }
    return wide;
}

std::string Narrow(const std::wstring& text) {
    return platform::detail::narrow(text);
}

std::string WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

void SetWindowTextUtf8(HWND window, const std::string& text) {
    ::SetWindowTextW(window, Wide(text).c_str());
}

HFONT MessageFont(UINT dpi, double points, bool bold) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    LOGFONTW face = metrics.lfMessageFont;
    if (points > 0) {
        face.lfHeight = -static_cast<LONG>(points * dpi / 72 + 0.5);
    }
    if (bold) {
        face.lfWeight = FW_BOLD;
    }
    return ::CreateFontIndirectW(&face);
}

}  // namespace vantory::winui
