#pragma once

// One copy of Vantory per user and settings folder on Windows: a named mutex says whether a
// copy runs, and a named pipe that only this user can open carries the files a second start
// names to the copy already running (as HandOver writes them).

#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "winui/message_window.h"

namespace vantory::winui {

// The names of the mutex ("Local\...") and the pipe ("\\.\pipe\...") of the copy whose
// settings live in `settingsFolder`, for the user running this program.
std::wstring InstanceMutexName(const std::string& settingsFolder);
std::wstring InstancePipeName(const std::string& settingsFolder);

// The running copy's end: a thread takes whole lists of paths, one start at a time, and
// hands each to the receiver through the message loop. Lists that arrive before anyone
// receives them are kept.
class InstancePipeServer {
  public:
    using Receiver = std::function<void(const std::vector<std::string>& paths)>;

    InstancePipeServer();
    ~InstancePipeServer();
    InstancePipeServer(const InstancePipeServer&) = delete;
    InstancePipeServer& operator=(const InstancePipeServer&) = delete;

    // Makes the pipe (its first instance: a pipe of that name made by anyone else refuses
    // it) and starts serving it. False, with `error`, when it cannot be made.
    bool listen(const std::wstring& name, std::string& error);
    // Who gets the lists from now on; the lists kept so far are handed over at once.
    void setReceiver(Receiver receiver);

  private:
    void serve();
    bool serveOne();
    void deliver(std::vector<std::string> paths);

    MessageWindow window_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE stop_ = nullptr;
    std::thread thread_;
    Receiver receiver_;
    std::vector<std::vector<std::string>> kept_;
};

// Hands `paths` to the copy listening at `pipeName` and waits for its answer. False, with
// `error` saying what happened, when no copy of this user answers within a few seconds; the
// running copy then takes none of them.
bool HandOverToRunningCopy(const std::wstring& pipeName, const std::vector<std::string>& paths,
                           std::string& error);

}  // namespace vantory::winui
