#include "winui/login_window.h"

#include "winui/resource.h"
#include "winui/win_text.h"
#include "winui/win_ui_services.h"

namespace vantory::winui {

LoginWindow::LoginWindow(ProgramState& state, UiServices& ui) : state_(state), ui_(ui) {
    handle_ =
        ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_LOGIN), nullptr,
                             &LoginWindow::procedure, reinterpret_cast<LPARAM>(this));
    SetWindowTextUtf8(handle_, kLoginCaption);
    ::SendMessageW(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(ProgramIcon(true)));
    ::SendMessageW(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(ProgramIcon(false)));
}

LoginWindow::~LoginWindow() {
    if (handle_ != nullptr) {
        ::SetWindowLongPtrW(handle_, DWLP_USER, 0);
        ::DestroyWindow(handle_);
    }
}

StartOutcome LoginWindow::load() {
    const StartOutcome outcome = PrepareStart(state_, ui_);
    if (outcome == StartOutcome::kFactorySettings) {
        SetWindowTextUtf8(handle_, kFactoryCaption);
    }
    return outcome;
}

void LoginWindow::show() {
    ::ShowWindow(handle_, SW_SHOW);
    ::SetForegroundWindow(handle_);
    ::SetFocus(control(IDC_PASSWORD));
}

void LoginWindow::cmdOK_Click() {
    if (PasswordMatches(state_, WindowText(control(IDC_PASSWORD)))) {
        ::ShowWindow(handle_, SW_HIDE);
        if (loggedIn) {
            loggedIn();
        }
        return;
    }
    ShowInvalidPassword(ui_);
    ::SetFocus(control(IDC_PASSWORD));
    ::SendMessageW(control(IDC_PASSWORD), EM_SETSEL, 0, -1);
}

INT_PTR CALLBACK LoginWindow::procedure(HWND dialog, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(dialog, DWLP_USER, l);
        return TRUE;
    }
    auto* self = reinterpret_cast<LoginWindow*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr || message != WM_COMMAND || HIWORD(w) != BN_CLICKED) {
        return FALSE;
    }
    switch (LOWORD(w)) {
        case IDOK:
            self->cmdOK_Click();
            return TRUE;
        case IDCANCEL:  // the Cancel button, Esc and the title bar's close
            ::ShowWindow(dialog, SW_HIDE);
            if (self->cancelled) {
                self->cancelled();
            }
            return TRUE;
        case IDC_PASSWORD_HELP:
            ShowPasswordHelp(self->ui_);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace vantory::winui
