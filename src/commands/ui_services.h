#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantory {

// What the program needs of the window toolkit. The windows and commands call only this, so
// tests can answer every dialog ahead of time and read back every message shown.
// Texts and paths are byte strings.
class UiServices {
  public:
    // Message box styles: an OK button alone, with the exclamation icon, or with the
    // information icon.
    static constexpr int kPlain = 0;
    static constexpr int kExclamation = 48;
    static constexpr int kInformation = 64;
    // The title a message box shows when it is given none.
    static constexpr const char* kApplicationTitle = "Vantory";

    virtual ~UiServices() = default;

    // Shows a message and waits until the user closes it. A line break is "\r\n".
    virtual void messageBox(const std::string& text, int style, const std::string& title = {}) = 0;
    // Asks for one line of text, shown in clear; nullopt on Cancel, so that it is never taken
    // for an empty answer.
    virtual std::optional<std::string> inputBox(const std::string& prompt,
                                                const std::string& title) = 0;
    // The file-open dialog for existing files; the chosen full paths, none on Cancel.
    virtual std::vector<std::string> openFiles(const std::string& title, bool multiple) = 0;
    // Lets the window system handle what is waiting, then returns.
    virtual void yield() = 0;
    // The busy pointer over the whole program, on or off.
    virtual void setWaitCursor(bool on) = 0;
    // Opens the file with the desktop's default application; what the application then does
    // is not awaited. False when no application could be asked to open it.
    virtual bool openWithDefaultApplication(const std::string& path) = 0;
    // True when another copy of the program already runs for this user. The first copy to
    // ask holds a lock in `settingsFolder` for the rest of its life.
    virtual bool previousInstanceRunning(const std::string& settingsFolder) = 0;
};

// Shows the wait cursor for the life of the guard.
class WaitCursor {
  public:
    explicit WaitCursor(UiServices& ui) : ui_(ui) { ui_.setWaitCursor(true); }
    ~WaitCursor() { ui_.setWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    UiServices& ui_;
};

}  // namespace vantory
