#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "session/filtered_catalogue.h"
#include "session/main_form.h"
#include "session/main_session.h"
#include "winui/busy_window.h"
#include "winui/login_window.h"
#include "winui/win_clock.h"

namespace vantory::winui {

// The working window on Win32: the catalogue on the left under its filter box, a strip of two
// tabs with the commands and settings on the right (main_form). Its MainSession owns the
// catalogue and decides what runs when; the window draws what the session tells it, and owns
// at most one busy window at a time. Controls are found by their names (control("cmdShell")).
class MainWindow : private MainView {
  public:
    MainWindow(ProgramState& state, UiServices& ui);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The load step, once (MainSession::load); false when the catalogue could not be read
    // and the window closes.
    bool load();
    // Shows it where it was left, in front.
    void show();

    // Files handed to the program from its command line: hidden as one selection once the
    // window is loaded and unlocked and no command runs. The window comes to the front.
    void hideHandedOver(const std::vector<std::string>& paths);
    // The window to look at now comes to the front: the password window while locked, the
    // busy window while busy, else this one.
    void bringForward();

    Catalogue& catalogue() { return session_.catalogue(); }
    RunCommand& runCommand() { return session_.runCommand(); }

    std::vector<size_t> selectedPositions() const override;
    int currentPosition() const override;
    // Selects exactly the rows of `positions` that show; `current` becomes the current row
    // (-1: the first selected one).
    void setSelection(const std::vector<size_t>& positions, int current = -1);
    void selectFirst() override;
    void OpRunning(bool running) { session_.OpRunning(running); }

    HWND handle() const { return handle_; }
    // A control by its name ("cmdShell", "lstFileList", "tabControl", "txtFilter", ...).
    HWND control(const std::string& name) const;
    // The page of the tab strip shown (main_form::Page as a number).
    int currentPage() const;
    void showPage(int page);
    // The busy window while it is open.
    BusyWindow* busyWindow() const;
    bool closePending() const { return session_.gate().closeWaiting(); }
    // Asks the window to close, as its title bar's close button does.
    void close();
    bool closed() const { return handle_ == nullptr; }

    void idleTimeElapsed() { session_.idleTimeElapsed(); }
    bool locked() const { return session_.locked(); }
    LoginWindow* lockWindow() const { return lockWindow_.get(); }
    int64_t idleLockMilliseconds() const { return session_.idleLock().intervalMilliseconds(); }
    // The minutes the settings tab shows, as the user would set them there.
    void setIdleMinutesText(const std::string& text);

    // The shortcuts, from the message loop, before the key reaches its window: true when
    // one was taken.
    bool filterKey(const MSG& message);

  private:
    // What the session tells the window to draw and do.
    void showList() override;
    void showStorageLabel() override;
    void showExtensionLabel() override;
    void select(const std::vector<size_t>& positions) override { setSelection(positions); }
    void showRunCaption(const std::string& caption) override;
    void showSlowRun(bool on) override;
    void showControls(const CommandGate::Controls& controls) override;
    void setUsable(bool usable) override;
    void later(std::function<void()> then) override;
    void lock() override;
    void closeWindow() override { close(); }

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM, LPARAM);
    static LRESULT CALLBACK pageProcedure(HWND window, UINT message, WPARAM, LPARAM);
    static LRESULT CALLBACK listProcedure(HWND window, UINT message, WPARAM, LPARAM, UINT_PTR,
                                          DWORD_PTR);
    LRESULT handleMessage(UINT message, WPARAM w, LPARAM l);
    void command(int id, int code);

    void buildControls();
    void makeFonts();
    void Form_Resize();
    void arrange(const main_form::Layout& layout);
    void Form_GotFocus();
    void restoreFocus();
    void tryClose();
    BusyWindow& ensureBusyWindow();
    BusyWindow& showBusyWindow();
    void unlock();
    void placeAsLeft();
    std::optional<WindowPlace> currentPlace() const;
    void drawSelection(const FilteredCatalogue::Selection& selection);
    void filesDropped(HDROP drop);
    void showIdleMinutes(int minutes);
    void idleMinutesChanged();
    bool enabled(const char* name) const;

    ProgramState& state_;
    UiServices& ui_;
    Win32Clock clock_;
    Win32Timer idleTimer_{[this] { session_.idleTimerFired(); }};
    MainSession session_;
    FilteredCatalogue list_;  // what lstFileList shows, row by row
    std::unique_ptr<BusyWindow> busyWindow_;
    bool busyWindowWasShown_ = false;
    std::unique_ptr<LoginWindow> lockWindow_;
    std::unique_ptr<LoginWindow> retiredLockWindow_;  // its handler may still be running
    std::deque<std::function<void()>> later_;
    bool openMaximized_ = false;

    HWND handle_ = nullptr;
    HWND pages_[2] = {nullptr, nullptr};
    std::map<std::string, HWND> controls_;
    HFONT font_ = nullptr, helpFont_ = nullptr;
    HWND lastFocus_ = nullptr;  // the control that had the keyboard when the window had it
    int listWidth_ = 0;         // kept between the narrowest width and the strip's own
};

}  // namespace vantory::winui
