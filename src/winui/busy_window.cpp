#include "winui/busy_window.h"

#include <commctrl.h>

#include "winui/win_text.h"
#include "winui/win_ui_services.h"

namespace vantory::winui {

namespace {

constexpr const wchar_t* kClassName = L"VantoryBusyWindow";

// The inside of the window at 96 dots per inch: 4680 x 1440 twips, made room for the progress
// bar beneath the progress line and for a wider progress line in bold 12 point.
constexpr int kWidth = 360;
constexpr int kMargin = 8;
constexpr int kNoticeHeight = 52;
constexpr int kStatusTop = 62, kStatusHeight = 26;
constexpr int kBarTop = 94;  // without the line of bytes
constexpr int kBarHeight = 18;
constexpr int kBottomMargin = 12;
constexpr int kBytesHeight = 20;        // added above the bar when the line of bytes shows
constexpr int kClosingNoteHeight = 22;  // added beneath the bar when the note shows
constexpr double kStatusPoints = 12;

HWND makeLabel(HWND parent, const char* text) {
    return ::CreateWindowExW(0, L"STATIC", Wide(text).c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, 0,
                             0, 0, 0, parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

BusyWindow::BusyWindow(const ProgramState& state)
    : state_(state), Timer1_([this] { Timer1_Timer(); }), progress_(state, Timer1_) {
    RegisterWindowClass(kClassName, &BusyWindow::procedure, IDC_WAIT, true);
    handle_ = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT, kClassName,
                                Wide(kCaption).c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                CW_USEDEFAULT, CW_USEDEFAULT, kWidth, kBarTop, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), this);
    lblBusy_ = makeLabel(handle_, kNotice);
    lblStatus_ = makeLabel(handle_, "");
    lblBytes_ = makeLabel(handle_, "");
    ::ShowWindow(lblBytes_, SW_HIDE);
    lblClosing_ = makeLabel(handle_, kClosingNote);
    ::ShowWindow(lblClosing_, SW_HIDE);
    progressBar_ = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 0, 0, 0, handle_,
                                     nullptr, ::GetModuleHandleW(nullptr), nullptr);
    makeFonts();
    arrange();
}

BusyWindow::~BusyWindow() {
    close();
    if (font_ != nullptr) {
        ::DeleteObject(font_);
        ::DeleteObject(bold_);
    }
}

void BusyWindow::close() {
    Timer1_.stop();
    if (handle_ != nullptr) {
        const HWND window = handle_;
        handle_ = nullptr;
        ForgetObject(window);
        ::DestroyWindow(window);
    }
}

void BusyWindow::makeFonts() {
    const UINT dpi = ::GetDpiForWindow(handle_);
    if (font_ != nullptr) {
        ::DeleteObject(font_);
        ::DeleteObject(bold_);
    }
    font_ = MessageFont(dpi);
    bold_ = MessageFont(dpi, kStatusPoints, true);
    for (const HWND label : {lblBusy_, lblBytes_, lblClosing_}) {
        ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    }
    ::SendMessageW(lblStatus_, WM_SETFONT, reinterpret_cast<WPARAM>(bold_), TRUE);
}

void BusyWindow::Timer1_Timer() {
    if (handle_ == nullptr) {
        return;
    }
    SetWindowTextUtf8(handle_, NextBusyCaption(WindowText(handle_)));
    const BusyProgress::View view = progress_.tick();
    if (view.status) {
        SetWindowTextUtf8(lblStatus_, *view.status);
    }
    if (view.bytes) {
        if (!::IsWindowVisible(lblBytes_)) {
            ::ShowWindow(lblBytes_, SW_SHOW);
            arrange();
        }
        SetWindowTextUtf8(lblBytes_, *view.bytes);
    }
    if (view.bar && view.bar->shown) {
        ::SendMessageW(progressBar_, PBM_SETRANGE32, 0, view.bar->maximum);
        ::SendMessageW(progressBar_, PBM_SETPOS, static_cast<WPARAM>(view.bar->value), 0);
        ::ShowWindow(progressBar_, SW_SHOW);
    } else if (view.bar) {
        ::ShowWindow(progressBar_, SW_HIDE);
    }
    if (view.close) {
        close();
    }
}

void BusyWindow::showClosingNote() {
    if (handle_ != nullptr && !::IsWindowVisible(lblClosing_)) {
        ::ShowWindow(lblClosing_, SW_SHOW);
        arrange();
    }
}

void BusyWindow::arrange() {
    const UINT dpi = ::GetDpiForWindow(handle_);
    const auto px = [dpi](int pixels) { return MulDiv(pixels, static_cast<int>(dpi), 96); };
    const int width = kWidth - 2 * kMargin;
    ::MoveWindow(lblBusy_, px(kMargin), px(kMargin), px(width), px(kNoticeHeight), TRUE);
    ::MoveWindow(lblStatus_, px(kMargin), px(kStatusTop), px(width), px(kStatusHeight), TRUE);
    int y = kBarTop;
    if (::IsWindowVisible(lblBytes_)) {
        ::MoveWindow(lblBytes_, px(kMargin), px(y - 4), px(width), px(kBytesHeight), TRUE);
        y += kBytesHeight;
    }
    ::MoveWindow(progressBar_, px(kMargin), px(y), px(width), px(kBarHeight), TRUE);
    y += kBarHeight + kBottomMargin;
    if (::IsWindowVisible(lblClosing_)) {
        ::MoveWindow(lblClosing_, px(kMargin), px(y - 4), px(width), px(kClosingNoteHeight), TRUE);
        y += kClosingNoteHeight;
    }
    // The frame around an inside of that size.
    RECT frame{0, 0, px(kWidth), px(y)};
    ::AdjustWindowRectExForDpi(&frame, WS_POPUP | WS_CAPTION | WS_SYSMENU, FALSE, WS_EX_TOOLWINDOW,
                               dpi);
    ::SetWindowPos(handle_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK BusyWindow::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = ObjectOf<BusyWindow>(window, message, l);
    switch (message) {
        case WM_CLOSE:
            return 0;  // it closes when the operation ends, not before
        case WM_DPICHANGED:
            if (self != nullptr) {
                const auto* suggested = reinterpret_cast<const RECT*>(l);
                ::SetWindowPos(window, nullptr, suggested->left, suggested->top,
                               suggested->right - suggested->left,
                               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
                self->makeFonts();
                self->arrange();
            }
            return 0;
        default:
            return ::DefWindowProcW(window, message, w, l);
    }
}

}  // namespace vantory::winui
