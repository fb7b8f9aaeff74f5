#include "winui/message_window.h"

namespace vantory::winui {

namespace {
constexpr const wchar_t* kClassName = L"VantoryMessageWindow";
}

MessageWindow::MessageWindow(Handler handler) : handler_(std::move(handler)) {
    static const ATOM registered = [] {
        WNDCLASSEXW type{};
        type.cbSize = sizeof type;
        type.lpfnWndProc = &MessageWindow::procedure;
        type.hInstance = ::GetModuleHandleW(nullptr);
        type.lpszClassName = kClassName;
        return ::RegisterClassExW(&type);
    }();
    (void)registered;
    handle_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), this);
}

MessageWindow::~MessageWindow() {
    if (handle_ != nullptr) {
        ::SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
        ::DestroyWindow(handle_);
    }
}

LRESULT CALLBACK MessageWindow::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && message >= WM_USER) {
        self->handler_(message, w, l);
        return 0;
    }
    if (self != nullptr && message == WM_TIMER) {
        self->handler_(message, w, l);
        return 0;
    }
    return ::DefWindowProcW(window, message, w, l);
}

}  // namespace vantory::winui
