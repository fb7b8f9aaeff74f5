#include "winui/instance_pipe.h"

#include <sddl.h>

#include <memory>

#include "session/hand_over.h"
#include "winui/win_text.h"

namespace vantory::winui {

namespace {

constexpr UINT kHandedOver = WM_APP + 1;
// A second start waits this long for the running copy to answer, which it does from a
// thread of its own; and this long for the pipe to be free, one start being served at a time.
constexpr DWORD kAnswerMilliseconds = 30000;
constexpr ULONGLONG kConnectMilliseconds = 5000;
constexpr const char* kNothingHidden = "; no file was hidden, and the files are where they were.";

// The security identifier of the user `process` runs as, as text ("S-1-5-21-..."); "" when
// it cannot be read.
std::wstring ProcessUserSid(HANDLE process) {
    std::wstring text;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) {
        return text;
    }
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    LPWSTR string = nullptr;
    if (size > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &string)) {
        text = string;
        ::LocalFree(string);
    }
    ::CloseHandle(token);
    return text;
}

const std::wstring& UserSid() {
    static const std::wstring sid = ProcessUserSid(::GetCurrentProcess());
    return sid;
}

// The user and settings folder in a name: FNV-1a of the folder, so that tests with folders
// of their own run side by side; no secret hangs on it.
std::wstring InstanceSuffix(const std::string& settingsFolder) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : settingsFolder) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    }
    wchar_t hex[17];
    ::swprintf(hex, 17, L"%016llx", static_cast<unsigned long long>(hash));
    return L"vantory-" + UserSid() + L"-" + hex;
}

// Waits for an overlapped operation on `file` to end, or for `stop`, or for `milliseconds`.
bool finish(HANDLE file, OVERLAPPED& at, HANDLE stop, DWORD milliseconds, DWORD& done) {
    const HANDLE events[] = {at.hEvent, stop};
    const DWORD count = stop != nullptr ? 2 : 1;
    if (::WaitForMultipleObjects(count, events, FALSE, milliseconds) != WAIT_OBJECT_0) {
        ::CancelIoEx(file, &at);
        ::GetOverlappedResult(file, &at, &done, TRUE);
        return false;
    }
    return ::GetOverlappedResult(file, &at, &done, FALSE) != 0;
}

// Reads exactly `size` bytes, or false.
bool readExactly(HANDLE file, char* buffer, size_t size, HANDLE stop) {
    while (size > 0) {
        OVERLAPPED at{};
        at.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD got = 0;
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, 1 << 20));
        bool ok = ::ReadFile(file, buffer, piece, &got, &at) != 0;
        if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
            ok = finish(file, at, stop, kAnswerMilliseconds, got);
        }
        ::CloseHandle(at.hEvent);
        if (!ok || got == 0) {
            return false;
        }
        buffer += got;
        size -= got;
    }
    return true;
}

bool writeAll(HANDLE file, const std::string& bytes, HANDLE stop) {
    OVERLAPPED at{};
    at.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &at) != 0;
    if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
        ok = finish(file, at, stop, kAnswerMilliseconds, written);
    }
    ::CloseHandle(at.hEvent);
    return ok && written == bytes.size();
}

// Whether the process at the other end of the pipe runs as this user: a pipe of that name
// made by someone else would learn the names of the files.
bool ServedByThisUser(HANDLE pipe) {
    ULONG process = 0;
    if (!::GetNamedPipeServerProcessId(pipe, &process)) {
        return false;
    }
    const HANDLE server = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (server == nullptr) {
        return false;
    }
    const std::wstring sid = ProcessUserSid(server);
    const bool same = !sid.empty() && sid == UserSid();
    ::CloseHandle(server);
    return same;
}

std::string SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring message = text != nullptr ? text : L"";
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(error) : Narrow(message);
}

}  // namespace

std::wstring InstanceMutexName(const std::string& settingsFolder) {
    return L"Local\\" + InstanceSuffix(settingsFolder);
}

std::wstring InstancePipeName(const std::string& settingsFolder) {
    return L"\\\\.\\pipe\\" + InstanceSuffix(settingsFolder);
}

InstancePipeServer::InstancePipeServer()
    : window_([this](UINT message, WPARAM, LPARAM l) {
          if (message == kHandedOver) {
              std::unique_ptr<std::vector<std::string>> paths(
                  reinterpret_cast<std::vector<std::string>*>(l));
              deliver(std::move(*paths));
          }
      }) {}

InstancePipeServer::~InstancePipeServer() {
    if (thread_.joinable()) {
        ::SetEvent(stop_);
        thread_.join();
    }
    if (pipe_ != INVALID_HANDLE_VALUE) {
        ::CloseHandle(pipe_);
    }
    if (stop_ != nullptr) {
        ::CloseHandle(stop_);
    }
    // Lists posted but not yet received go with the window's queue.
    MSG message;
    while (::PeekMessageW(&message, window_.handle(), kHandedOver, kHandedOver, PM_REMOVE)) {
        delete reinterpret_cast<std::vector<std::string>*>(message.lParam);
    }
}

bool InstancePipeServer::listen(const std::wstring& name, std::string& error) {
    // Only this user may open it.
    const std::wstring sddl = L"D:P(A;;GA;;;" + UserSid() + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        error = SystemMessage(::GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    pipe_ = ::CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 4096,
        0, &security);
    const DWORD made = ::GetLastError();
    ::LocalFree(descriptor);
    if (pipe_ == INVALID_HANDLE_VALUE) {
        error = SystemMessage(made);
        return false;
    }
    stop_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] { serve(); });
    return true;
}

void InstancePipeServer::serve() {
    while (::WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0) {
        OVERLAPPED at{};
        at.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD ignored = 0;
        bool connected = ::ConnectNamedPipe(pipe_, &at) != 0;
        if (!connected) {
            const DWORD error = ::GetLastError();
            connected = error == ERROR_PIPE_CONNECTED ||
                        (error == ERROR_IO_PENDING && finish(pipe_, at, stop_, INFINITE, ignored));
        }
        ::CloseHandle(at.hEvent);
        if (connected) {
            serveOne();
        }
        ::DisconnectNamedPipe(pipe_);
    }
}

// Reads one message, answers it, and posts its paths once the start says they are ours.
bool InstancePipeServer::serveOne() {
    HandOverReader reader;
    std::string piece;
    while (reader.state() == HandOverReader::State::kMore) {
        piece.resize(std::min<size_t>(reader.wanted(), 1 << 20));
        if (!readExactly(pipe_, piece.data(), piece.size(), stop_)) {
            return false;
        }
        reader.take(piece);
    }
    if (reader.state() != HandOverReader::State::kWhole ||
        !writeAll(pipe_, std::string(1, HandOver::kWhole), stop_)) {
        return false;
    }
    char word = 0;
    if (!readExactly(pipe_, &word, 1, stop_) || word != HandOver::kTake) {
        return false;
    }
    auto paths = std::make_unique<std::vector<std::string>>(std::move(reader.paths()));
    if (::PostMessageW(window_.handle(), kHandedOver, 0, reinterpret_cast<LPARAM>(paths.get()))) {
        paths.release();
    }
    return true;
}

void InstancePipeServer::setReceiver(Receiver receiver) {
    receiver_ = std::move(receiver);
    std::vector<std::vector<std::string>> kept;
    kept.swap(kept_);
    for (auto& paths : kept) {
        deliver(std::move(paths));
    }
}

void InstancePipeServer::deliver(std::vector<std::string> paths) {
    if (receiver_) {
        receiver_(paths);
    } else {
        kept_.push_back(std::move(paths));
    }
}

bool HandOverToRunningCopy(const std::wstring& pipeName, const std::vector<std::string>& paths,
                           std::string& error) {
    const std::string message = HandOver::message(paths);
    if (message.size() - HandOver::kHeaderSize > HandOver::kLongest) {
        error = "Vantory is running, but the " + std::to_string(paths.size()) +
                " files named are too many to hand to it at once" + kNothingHidden;
        return false;
    }
    const ULONGLONG started = ::GetTickCount64();
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (;;) {
        pipe = ::CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            break;
        }
        const DWORD failed = ::GetLastError();
        if (::GetTickCount64() - started > kConnectMilliseconds) {
            error = "Vantory is running, but it does not answer (" + SystemMessage(failed) + ")" +
                    kNothingHidden;
            return false;
        }
        if (failed == ERROR_PIPE_BUSY) {
            ::WaitNamedPipeW(pipeName.c_str(), 1000);
        } else {
            ::Sleep(100);  // the running copy makes its pipe right after it takes the mutex
        }
    }
    bool handed = false;
    if (!ServedByThisUser(pipe)) {
        error = "Vantory is running, but its pipe is not this user's" + std::string(kNothingHidden);
    } else {
        // The error of the step that failed, not of whatever call came after it.
        DWORD failed = ERROR_SUCCESS;
        char answer = 0;
        if (!writeAll(pipe, message, nullptr) || !readExactly(pipe, &answer, 1, nullptr)) {
            failed = ::GetLastError();
        } else if (answer != HandOver::kWhole) {
            failed = ERROR_INVALID_DATA;
        } else if (!writeAll(pipe, std::string(1, HandOver::kTake), nullptr)) {
            failed = ::GetLastError();
        } else {
            handed = true;
        }
        if (handed) {
            // From this word on, the files are the running copy's to hide.
            ::FlushFileBuffers(pipe);
        } else {
            error = "Vantory is running, but it did not take the files (" + SystemMessage(failed) +
                    ")" + kNothingHidden;
        }
    }
    ::CloseHandle(pipe);
    return handed;
}

}  // namespace vantory::winui
