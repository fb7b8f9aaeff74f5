#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "commands/run_command.h"
#include "session/command_gate.h"
#include "session/filtered_catalogue.h"
#include "session/idle_lock.h"
#include "store/catalogue.h"
#include "store/preferences.h"
#include "store/program_state.h"
#include "winui/busy_window.h"
#include "winui/login_window.h"
#include "winui/win_clock.h"

namespace vantory::winui {

// The working window on Win32, drawing what the window model decides as the Qt window does:
// the list of hidden files under its filter box on the left, the strip of two tabs with the
// commands and settings on the right. It owns the catalogue and the busy state, and at most
// one busy window at a time. Controls are found by their names (control("cmdShell")).
class MainWindow : public BusyState {
  public:
    MainWindow(ProgramState& state, UiServices& ui);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The load step, once: reads the catalogue, shows the folder and extension, switches
    // slow run on, and runs the store check; then the idle lock starts. A catalogue that
    // cannot be read is reported and the window closes, which ends the program, before
    // anything is written; false then.
    bool load();
    void show();

    // Files handed to the program from its command line: hidden as one selection once the
    // window is loaded and unlocked and no command runs. The window comes to the front.
    void hideHandedOver(const std::vector<std::string>& paths);
    // The window to look at now comes to the front: the password window while locked, the
    // busy window while busy, else this one.
    void bringForward();

    Catalogue& catalogue() { return catalogue_; }
    CommandContext& context() { return context_; }
    RunCommand& runCommand() { return *runCommand_; }

    // Catalogue positions of the selected rows, ascending; the current row's, -1 for none.
    std::vector<size_t> selectedPositions() const;
    int currentPosition() const;
    // Refills the list from the catalogue through the filter, keeping the selection.
    void refreshList();
    void setSelection(const std::vector<size_t>& positions, int current = -1);
    void selectFirst();

    void OpRunning(bool running) override;

    void refreshStorageLabel();
    void refreshExtensionLabel();

    HWND handle() const { return handle_; }
    // A control by its name ("cmdShell", "lstFileList", "tabControl", ...); null if unknown.
    HWND control(const std::string& name) const;
    // The page of the tab strip shown (0: Manage Files, 1: Access and Security Control).
    int currentPage() const;
    void showPage(int page);
    BusyWindow* busyWindow() const {
        return busyWindow_ && busyWindow_->open() ? busyWindow_.get() : nullptr;
    }
    bool closePending() const { return gate_.closeWaiting(); }
    // Asks the window to close, as its title bar's close button does.
    void close();
    bool closed() const { return handle_ == nullptr; }

    void idleTimeElapsed();
    bool locked() const { return lockWindow_ != nullptr; }
    LoginWindow* lockWindow() const { return lockWindow_.get(); }
    int64_t idleLockMilliseconds() const { return idleLock_.intervalMilliseconds(); }
    Win32Timer& idleTimer() { return idleTimer_; }

    // What the message loop calls for each key before its window: the shortcuts. True when
    // taken.
    bool filterKey(const MSG& message);

  private:
    class CommandScope {
      public:
        explicit CommandScope(MainWindow& window) : window_(window) { window_.gate_.started(); }
        ~CommandScope();
        CommandScope(const CommandScope&) = delete;
        CommandScope& operator=(const CommandScope&) = delete;

      private:
        MainWindow& window_;
    };

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM, LPARAM);
    static LRESULT CALLBACK pageProcedure(HWND window, UINT message, WPARAM, LPARAM);
    static LRESULT CALLBACK listProcedure(HWND window, UINT message, WPARAM, LPARAM, UINT_PTR,
                                          DWORD_PTR);
    LRESULT handle(UINT message, WPARAM w, LPARAM l);
    void command(int id, int code);

    void buildControls();
    void makeFonts();
    void arrange();
    void Form_Resize();
    void Form_GotFocus();
    void ErrorRemoveFiles();
    bool readyForCommand();
    BusyWindow& ensureBusyWindow();
    BusyWindow& showBusyWindow();
    void scheduleAfterCommands();
    void afterCommands();
    void filesDropped(HDROP drop);
    void restartIdleTimer();
    void idleTimer_Timer();
    void lockNow();
    void unlock();
    void loadPreferences();
    void drawSelection(const FilteredCatalogue::Selection& selection);
    void setEnabled(const char* name, bool enabled);
    bool enabled(const char* name) const;
    void finishClose();

    void cmdAddFile_Click();
    void cmdRestoreFile_Click();
    void cmdRestore_Click();
    void cmdShell_Click();
    void cmdChangePass_Click();
    void cmdSetExten_Click();
    void cmdSetStorDir_Click();
    void chkEncrypt_Click();
    void chkSlowRun_Click();
    void spnIdleLock_Change();

    ProgramState& state_;
    UiServices& ui_;
    Catalogue catalogue_;
    FilteredCatalogue list_;
    CommandContext context_;
    std::unique_ptr<RunCommand> runCommand_;
    std::unique_ptr<BusyWindow> busyWindow_;
    bool loaded_ = false;
    bool unusable_ = false;
    CommandGate gate_{state_};
    Preferences preferences_;
    std::string preferencesProblem_;
    Win32Clock clock_;
    Win32Timer idleTimer_{[this] { idleTimer_Timer(); }};
    IdleLock idleLock_{clock_, idleTimer_};
    bool inputWatched_ = false;
    bool busyWindowWasShown_ = false;
    std::unique_ptr<LoginWindow> lockWindow_;
    std::unique_ptr<LoginWindow> retiredLockWindow_;  // its callback is still on the stack

    HWND handle_ = nullptr;
    HWND pages_[2] = {nullptr, nullptr};
    std::map<std::string, HWND> controls_;
    HFONT font_ = nullptr, helpFont_ = nullptr;
};

}  // namespace vantory::winui
