#pragma once

#include <windows.h>

#include <functional>

#include "commands/startup.h"

namespace vantory::winui {

// The password window, a dialog of the resource script shown without holding back the
// message loop. load() runs the start-up; a right password hides the window and calls
// loggedIn, Cancel (or Esc, or the title bar's close) calls cancelled.
class LoginWindow {
  public:
    LoginWindow(ProgramState& state, UiServices& ui);
    ~LoginWindow();
    LoginWindow(const LoginWindow&) = delete;
    LoginWindow& operator=(const LoginWindow&) = delete;

    // The load step. The program is to end when another instance runs (nothing is said), or
    // the settings or the storage folder cannot be used (the user has been told).
    StartOutcome load();
    // Shows it in front, the keyboard in the password box.
    void show();

    HWND handle() const { return handle_; }
    HWND control(int id) const { return ::GetDlgItem(handle_, id); }

    std::function<void()> loggedIn;
    std::function<void()> cancelled;

  private:
    static INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM, LPARAM);
    void cmdOK_Click();

    ProgramState& state_;
    UiServices& ui_;
    HWND handle_ = nullptr;
};

}  // namespace vantory::winui
