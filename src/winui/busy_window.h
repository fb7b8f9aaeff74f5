#pragma once

#include <windows.h>

#include "session/busy_progress.h"
#include "store/program_state.h"
#include "winui/win_clock.h"

namespace vantory::winui {

// The small window shown while a long operation runs: at each tick of its timer it animates
// its caption and shows what the window model reads from the program state, and the first
// tick that finds the program no longer busy closes it. It has no owner and stays out of the
// task bar.
class BusyWindow {
  public:
    static constexpr const char* kCaption = "Program is busy...";
    static constexpr const char* kNotice =
        "Be patient.  The file operations can be quite lengthy and memory-intensive.  Large "
        "files can take many minutes to complete.";
    static constexpr const char* kClosingNote = "Vantory closes once this is done.";

    explicit BusyWindow(const ProgramState& state);
    ~BusyWindow();
    BusyWindow(const BusyWindow&) = delete;
    BusyWindow& operator=(const BusyWindow&) = delete;

    // One tick of Timer1: caption animation, progress line, and the close once not busy.
    void Timer1_Timer();
    // Says, beneath the progress bar, that the main window closes once the command ends.
    void showClosingNote();

    // Null once it has closed.
    HWND handle() const { return handle_; }
    bool open() const { return handle_ != nullptr; }
    HWND statusLine() const { return lblStatus_; }
    HWND bytesLine() const { return lblBytes_; }
    HWND progressBar() const { return progressBar_; }
    Win32Timer& timer() { return Timer1_; }

  private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM, LPARAM);
    // Places the lines that show beneath the progress line and fits the window to them.
    void arrange();
    void makeFonts();
    void close();

    const ProgramState& state_;
    HWND handle_ = nullptr;
    HWND lblBusy_ = nullptr, lblStatus_ = nullptr, lblBytes_ = nullptr, lblClosing_ = nullptr;
    HWND progressBar_ = nullptr;
    HFONT font_ = nullptr, bold_ = nullptr;
    Win32Timer Timer1_;
    BusyProgress progress_;
};

}  // namespace vantory::winui
