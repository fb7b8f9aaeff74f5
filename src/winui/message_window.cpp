#include "winui/message_window.h"

#include "winui/win_ui_services.h"

namespace vantory::winui {

namespace {
constexpr const wchar_t* kClassName = L"VantoryMessageWindow";
}

void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, const wchar_t* cursor,
                         bool withIcon) {
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = procedure;
    type.hInstance = ::GetModuleHandleW(nullptr);
    type.hCursor = ::LoadCursorW(nullptr, cursor);
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    if (withIcon) {
        type.hIcon = ProgramIcon(true);
        type.hIconSm = ProgramIcon(false);
    }
    type.lpszClassName = name;
    ::RegisterClassExW(&type);
}

MessageWindow::MessageWindow(Handler handler) : handler_(std::move(handler)) {
    RegisterWindowClass(kClassName, &MessageWindow::procedure);
    handle_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), this);
}

MessageWindow::~MessageWindow() {
    if (handle_ != nullptr) {
        ForgetObject(handle_);
        ::DestroyWindow(handle_);
    }
}

LRESULT CALLBACK MessageWindow::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = ObjectOf<MessageWindow>(window, message, l);
    if (self != nullptr && (message >= WM_USER || message == WM_TIMER)) {
        self->handler_(message, w, l);
        return 0;
    }
    return ::DefWindowProcW(window, message, w, l);
}

}  // namespace vantory::winui
