#pragma once

#include <windows.h>

#include <functional>

namespace vantory::winui {

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
