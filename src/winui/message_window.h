#pragma once

#include <windows.h>

#include <functional>

namespace vantory::winui {

// Registers a window class of the program (again is harmless): its procedure, its cursor, the
// dialog background, and the program's icon where `withIcon`.
void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, const wchar_t* cursor = IDC_ARROW,
                         bool withIcon = false);

// The object `window` was made for (CreateWindowEx's last argument), kept with the window from
// its first message; null before, and once forgotten.
template <typename T>
T* ObjectOf(HWND window, UINT message, LPARAM l) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    return reinterpret_cast<T*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}
// The window's messages reach its object no more (it is going).
inline void ForgetObject(HWND window) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
}

// A window that is never shown (a message-only window), for what arrives as window messages
// outside any visible window: timers, and the files a later start hands over.
class MessageWindow {
  public:
    using Handler = std::function<void(UINT message, WPARAM, LPARAM)>;

    explicit MessageWindow(Handler handler);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND handle() const { return handle_; }

  private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM, LPARAM);

    Handler handler_;
    HWND handle_ = nullptr;
};

}  // namespace vantory::winui
