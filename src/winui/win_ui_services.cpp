#include "winui/win_ui_services.h"

#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>

#include "platform/platform.h"
#include "winui/message_loop.h"
#include "winui/resource.h"
#include "winui/win_text.h"

namespace vantory::winui {

namespace {

bool waitCursorOn = false;

// The file-open dialog's answer: room for many long paths.
constexpr size_t kChosenRoom = 1 << 20;

struct InputRequest {
    std::wstring prompt, title, answer;
};

INT_PTR CALLBACK InputProcedure(HWND dialog, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_INITDIALOG: {
            ::SetWindowLongPtrW(dialog, DWLP_USER, l);
            const auto* request = reinterpret_cast<InputRequest*>(l);
            ::SetWindowTextW(dialog, request->title.c_str());
            ::SetDlgItemTextW(dialog, IDC_PROMPT, request->prompt.c_str());
            ::SendMessageW(dialog, WM_SETICON, ICON_SMALL,
                           reinterpret_cast<LPARAM>(ProgramIcon(false)));
            ::SetFocus(::GetDlgItem(dialog, IDC_ANSWER));
            return FALSE;  // the keyboard is in the answer already
        }
        case WM_COMMAND:
            if (LOWORD(w) == IDOK) {
                auto* request =
                    reinterpret_cast<InputRequest*>(::GetWindowLongPtrW(dialog, DWLP_USER));
                const HWND answer = ::GetDlgItem(dialog, IDC_ANSWER);
                request->answer.resize(static_cast<size_t>(::GetWindowTextLengthW(answer)) + 1);
                request->answer.resize(static_cast<size_t>(::GetWindowTextW(
                    answer, request->answer.data(), static_cast<int>(request->answer.size()))));
                ::EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(w) == IDCANCEL) {
                ::EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

std::vector<std::string> ChosenPaths(const std::wstring& buffer, bool multiple) {
    std::vector<std::wstring> parts;
    for (size_t start = 0; start < buffer.size() && buffer[start] != L'\0';) {
        const size_t end = buffer.find(L'\0', start);
        parts.push_back(buffer.substr(start, end - start));
        start = end + 1;
    }
    std::vector<std::string> paths;
    if (parts.size() == 1 || (!multiple && !parts.empty())) {
        paths.push_back(Narrow(parts.front()));
        return paths;
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        paths.push_back(platform::joinPath(Narrow(parts[0]), Narrow(parts[i])));
    }
    return paths;
}

HWND DialogOwner() {
    const HWND active = ::GetActiveWindow();
    return active != nullptr && ::IsWindowVisible(active) ? active : nullptr;
}

HICON ProgramIcon(bool big) {
    const int size = ::GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON);
    return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                           MAKEINTRESOURCEW(IDI_VANTORY), IMAGE_ICON, size, size,
                                           LR_SHARED));
}

Win32UiServices::Win32UiServices() = default;

Win32UiServices::~Win32UiServices() {
    instanceServer_.reset();
    if (instanceMutex_ != nullptr) {
        ::CloseHandle(instanceMutex_);
    }
}

void Win32UiServices::messageBox(const std::string& text, int style, const std::string& title) {
    const HWND owner = DialogOwner();
    // The styles are MessageBox's own: MB_OK, MB_ICONEXCLAMATION, MB_ICONINFORMATION. Without
    // an owner the box holds back every window of the program.
    const UINT flags = MB_OK | static_cast<UINT>(style) | (owner == nullptr ? MB_TASKMODAL : 0);
    ::MessageBoxW(owner, Wide(text).c_str(),
                  Wide(title.empty() ? std::string(kApplicationTitle) : title).c_str(), flags);
}

std::optional<std::string> Win32UiServices::inputBox(const std::string& prompt,
                                                     const std::string& title) {
    InputRequest request{Wide(prompt), Wide(title), {}};
    const INT_PTR answer =
        ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_INPUT), DialogOwner(),
                          InputProcedure, reinterpret_cast<LPARAM>(&request));
    if (answer != IDOK) {
        return std::nullopt;
    }
    return Narrow(request.answer);
}

std::vector<std::string> Win32UiServices::openFiles(const std::string& title, bool multiple) {
    std::wstring buffer(kChosenRoom, L'\0');
    const std::wstring caption = Wide(title);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = DialogOwner();
    dialog.lpstrFilter = L"All Files (*.*)\0*.*\0";
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(buffer.size());
    dialog.lpstrTitle = caption.empty() ? nullptr : caption.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                   OFN_NOCHANGEDIR | OFN_DONTADDTORECENT | (multiple ? OFN_ALLOWMULTISELECT : 0);
    if (!::GetOpenFileNameW(&dialog)) {
        if (const DWORD error = ::CommDlgExtendedError(); error != 0) {
            messageBox("The file dialog could not be shown (error " + std::to_string(error) +
                           ").  No file was hidden.",
                       kExclamation, title);
        }
        return {};
    }
    return ChosenPaths(buffer, multiple);
}

void Win32UiServices::yield() {
    MessageLoop::pump();
}

void Win32UiServices::setWaitCursor(bool on) {
    waitCursorOn = on;
    ::SetCursor(::LoadCursorW(nullptr, on ? IDC_WAIT : IDC_ARROW));
}

bool Win32UiServices::waitCursorShown() {
    return waitCursorOn;
}

bool Win32UiServices::openWithDefaultApplication(const std::string& path) {
    const std::wstring file = Wide(path);
    const std::wstring folder = Wide(platform::parentFolder(path));
    const auto opened = reinterpret_cast<INT_PTR>(::ShellExecuteW(
        DialogOwner(), L"open", file.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL));
    return opened > 32;
}

bool Win32UiServices::previousInstanceRunning(const std::string& settingsFolder) {
    if (instanceMutex_ == nullptr) {
        instanceMutex_ = ::CreateMutexW(nullptr, FALSE, InstanceMutexName(settingsFolder).c_str());
        if (instanceMutex_ != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
            ::CloseHandle(instanceMutex_);
            instanceMutex_ = nullptr;
            return true;
        }
        // Another user's copy, or one in another session, with the same settings folder.
        if (platform::lockInstance(settingsFolder) == platform::LockResult::kHeldElsewhere) {
            return true;
        }
    }
    if (!instanceServer_) {
        auto server = std::make_unique<InstancePipeServer>();
        std::string error;
        if (server->listen(InstancePipeName(settingsFolder), error)) {
            instanceServer_ = std::move(server);
        } else {
            // Vantory works without it; only a second start cannot hand its files over.
            std::fprintf(stderr,
                         "vantory: files named when starting Vantory again cannot be handed to "
                         "this copy: %s\n",
                         error.c_str());
        }
    }
    return false;
}

}  // namespace vantory::winui
