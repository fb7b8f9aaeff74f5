#pragma once

#include <windows.h>

#include <functional>

namespace vantory::winui {

// The program's message loop, which the main loop and every yield of a long command share:
// keyboard and mouse input is told to the input watcher (the idle lock) before it goes to
// its window, a key filter sees keys first (the main window's shortcuts), and the keyboard
// moves between the controls of each window as in a dialog (Tab, mnemonics, Enter, Esc).
class MessageLoop {
  public:
    static void setInputWatcher(std::function<void()> watcher);
    // True from the filter: the key was taken and goes no further.
    static void setKeyFilter(std::function<bool(const MSG&)> filter);

    // Runs until WM_QUIT; returns its exit code.
    static int run();
    // Handles what is waiting, then returns. A WM_QUIT met here is posted again for run().
    static void pump();
    // One message, as both do.
    static void dispatch(MSG& message);
};

}  // namespace vantory::winui
