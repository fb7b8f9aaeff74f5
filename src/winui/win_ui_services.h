#pragma once

#include <windows.h>

#include <memory>

#include "commands/ui_services.h"
#include "winui/instance_pipe.h"

namespace vantory::winui {

// UiServices on Win32: message boxes and the input box are modal to the window in front,
// the file-open dialog is the system's, and the default application is the shell's.
class Win32UiServices : public UiServices {
  public:
    Win32UiServices();
    ~Win32UiServices() override;

    void messageBox(const std::string& text, int style, const std::string& title = {}) override;
    std::optional<std::string> inputBox(const std::string& prompt,
                                        const std::string& title) override;
    std::vector<std::string> openFiles(const std::string& title, bool multiple) override;
    void yield() override;
    void setWaitCursor(bool on) override;
    bool openWithDefaultApplication(const std::string& path) override;
    // The copy that takes the mutex also opens the pipe through which later starts hand it
    // their files, at once, so that none is turned away while this one is still starting.
    bool previousInstanceRunning(const std::string& settingsFolder) override;

    // The pipe, once this copy runs alone; null before, or when it could not be made.
    InstancePipeServer* instanceServer() const { return instanceServer_.get(); }

    // Whether the wait cursor is on; the windows show it over themselves while it is.
    static bool waitCursorShown();

  private:
    HANDLE instanceMutex_ = nullptr;
    std::unique_ptr<InstancePipeServer> instanceServer_;
};

// The paths the file-open dialog returned in `buffer`: one full path, or the folder and then
// each name, each ending in a NUL, the list in two.
std::vector<std::string> ChosenPaths(const std::wstring& buffer, bool multiple);

// The window that dialogs belong to: the active window of this program, if any.
HWND DialogOwner();

// The program's icon, at the size the system wants for `big` or small icons.
HICON ProgramIcon(bool big);

}  // namespace vantory::winui
