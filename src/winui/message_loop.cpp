#include "winui/message_loop.h"

namespace vantory::winui {

namespace {

std::function<void()>& inputWatcher() {
    static std::function<void()> watcher;
    return watcher;
}

std::function<bool(const MSG&)>& keyFilter() {
    static std::function<bool(const MSG&)> filter;
    return filter;
}

bool isInput(UINT message) {
    switch (message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_MOUSEMOVE:
        case WM_MOUSEWHEEL:
        case WM_NCLBUTTONDOWN:
        case WM_NCMOUSEMOVE:
            return true;
        default:
            return false;
    }
}

}  // namespace

void MessageLoop::setInputWatcher(std::function<void()> watcher) {
    inputWatcher() = std::move(watcher);
}

void MessageLoop::setKeyFilter(std::function<bool(const MSG&)> filter) {
    keyFilter() = std::move(filter);
}

void MessageLoop::dispatch(MSG& message) {
    if (isInput(message.message) && inputWatcher()) {
        inputWatcher()();
    }
    const bool key = message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST;
    if (key && keyFilter() && keyFilter()(message)) {
        return;
    }
    if (message.hwnd != nullptr) {
        const HWND root = ::GetAncestor(message.hwnd, GA_ROOT);
        if (root != nullptr && ::IsDialogMessageW(root, &message)) {
            return;
        }
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

int MessageLoop::run() {
    MSG message;
    BOOL got;
    while ((got = ::GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (got == -1) {
            return 1;
        }
        dispatch(message);
    }
    return static_cast<int>(message.wParam);
}

void MessageLoop::pump() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        dispatch(message);
    }
}

}  // namespace vantory::winui
