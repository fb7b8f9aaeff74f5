// The Windows program: the same command line as on Linux, then the password window and the
// main window drawn with Win32.

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_line.h"
#include "session/stopped_start.h"
#include "winui/login_window.h"
#include "winui/main_window.h"
#include "winui/message_loop.h"
#include "winui/win_text.h"
#include "winui/win_ui_services.h"

namespace {

using vantory::winui::Narrow;
using vantory::winui::Wide;

std::vector<std::string> arguments() {
    int count = 0;
    LPWSTR* given = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> utf8;
    for (int i = 1; i < count; ++i) {
        utf8.push_back(Narrow(given[i]));
    }
    ::LocalFree(given);
    return utf8;
}

std::string workingFolder() {
    std::wstring folder(::GetCurrentDirectoryW(0, nullptr), L'\0');
    folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    return Narrow(folder);
}

bool usable(DWORD which) {
    const HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// A program built for the windows has no console of its own. Its text goes where the standard
// handles it was given lead (a file, a pipe), else to the console of the program that
// started it, else into a message box once it has ended.
class TextChannel {
  public:
    // `interactive`: the salvage, which may ask for a password, gets a console of its own
    // when none can be borrowed.
    explicit TextChannel(bool interactive) {
        if (usable(STD_OUTPUT_HANDLE) || usable(STD_ERROR_HANDLE)) {
            return;
        }
        if (::AttachConsole(ATTACH_PARENT_PROCESS) ||
            (interactive && (owned_ = ::AllocConsole()))) {
            (void)std::freopen("CONIN$", "r", stdin);
            (void)std::freopen("CONOUT$", "w", stdout);
            (void)std::freopen("CONOUT$", "w", stderr);
            console_ = true;
            return;
        }
        boxed_ = true;
    }
    ~TextChannel() {
        std::fflush(stdout);
        if (owned_) {
            std::fputs("Press Enter to close this window.", stderr);
            std::getchar();
        }
        if (boxed_ && !(out_.empty() && err_.empty())) {
            const bool trouble = !err_.empty();
            ::MessageBoxW(nullptr, Wide(out_ + err_).c_str(), L"Vantory",
                          MB_OK | (trouble ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
        }
    }

    vantory::TextOutput output() {
        return {[this](const std::string& text) { write(text, stdout, STD_OUTPUT_HANDLE, out_); },
                [this](const std::string& text) { write(text, stderr, STD_ERROR_HANDLE, err_); }};
    }

  private:
    void write(const std::string& text, FILE* stream, DWORD which, std::string& kept) {
        if (boxed_) {
            kept += text;
        } else if (console_) {
            // The console shows UTF-16; bytes would pass through its code page.
            const std::wstring wide = Wide(text);
            DWORD written = 0;
            if (!::WriteConsoleW(::GetStdHandle(which), wide.data(),
                                 static_cast<DWORD>(wide.size()), &written, nullptr)) {
                std::fputs(text.c_str(), stream);
            }
        } else {
            std::fputs(text.c_str(), stream);
            std::fflush(stream);
        }
    }

    bool console_ = false, owned_ = false, boxed_ = false;
    std::string out_, err_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const vantory::CommandLine line = vantory::ParseCommandLine(arguments(), workingFolder());
    if (line.action != vantory::CommandLine::Action::kStart) {
        TextChannel text(line.action == vantory::CommandLine::Action::kSalvage);
        return vantory::RunWithoutWindows(line, VANTORY_VERSION, text.output()).value_or(0);
    }

    // The shell's "open" for Run Selected File, and the file dialog, want COM on this thread.
    (void)::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                                                       ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);

    vantory::winui::Win32UiServices ui;
    vantory::ProgramState state;
    std::unique_ptr<vantory::winui::MainWindow> mainWindow;

    vantory::winui::LoginWindow login(state, ui);
    if (const vantory::StartOutcome outcome = login.load();
        outcome == vantory::StartOutcome::kAnotherInstance ||
        outcome == vantory::StartOutcome::kSettingsUnusable ||
        outcome == vantory::StartOutcome::kStorageInUse) {
        const std::wstring pipe = vantory::winui::InstancePipeName(state.strSystemDir);
        return vantory::FinishStoppedStart(
            outcome, line.files, ui,
            [&pipe](const std::vector<std::string>& files, std::string& error) {
                return vantory::winui::HandOverToRunningCopy(pipe, files, error);
            });
    }

    // Files named here, and files handed over by later starts, wait for the main window.
    std::vector<std::vector<std::string>> waiting;
    if (!line.files.empty()) {
        waiting.push_back(line.files);
    }
    if (vantory::winui::InstancePipeServer* server = ui.instanceServer()) {
        server->setReceiver([&](const std::vector<std::string>& paths) {
            if (mainWindow) {
                mainWindow->hideHandedOver(paths);
                return;
            }
            waiting.push_back(paths);
            if (::IsWindowVisible(login.handle())) {
                ::SetForegroundWindow(login.handle());
            }
        });
    }
    login.loggedIn = [&] {
        mainWindow = std::make_unique<vantory::winui::MainWindow>(state, ui);
        mainWindow->show();
        mainWindow->load();
        for (const auto& paths : waiting) {
            mainWindow->hideHandedOver(paths);
        }
        waiting.clear();
    };
    login.cancelled = [] { ::PostQuitMessage(0); };
    login.show();
    const int status = vantory::winui::MessageLoop::run();
    // The pipe goes before the window that its receiver hands the files to.
    if (vantory::winui::InstancePipeServer* server = ui.instanceServer()) {
        server->setReceiver({});
    }
    mainWindow.reset();
    ::CoUninitialize();
    return status;
}
