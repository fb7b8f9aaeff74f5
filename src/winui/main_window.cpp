#include "winui/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "commands/change_password.h"
#include "commands/hide_command.h"
#include "commands/recovery.h"
#include "commands/restore_command.h"
#include "commands/storage_lock.h"
#include "commands/storage_settings.h"
#include "commands/store_check.h"
#include "session/captions.h"
#include "store/settings_file.h"
#include "winui/message_loop.h"
#include "winui/win_text.h"
#include "winui/win_ui_services.h"

namespace vantory::winui {

namespace {

constexpr const wchar_t* kClassName = L"VantoryMainWindow";
constexpr const wchar_t* kPageClassName = L"VantoryPage";
constexpr UINT kAfterCommands = WM_APP + 10;
constexpr UINT kCloseNow = WM_APP + 11;

// Set to a whole number of seconds, this takes the place of the idle minutes of the settings
// tab: the end-to-end test locks the window after a few seconds.
constexpr const wchar_t* kIdleSecondsVariable = L"VANTORY_IDLE_LOCK_SECONDS";

// Sizes in pixels at 96 dots per inch; 15 twips make a pixel there.
constexpr int kStripWidth = 289;    // the tab strip never changes its width
constexpr int kRightMargin = 10;    // between the strip and the window's edge
constexpr int kOpeningWidth = 588;  // client area at opening
constexpr int kOpeningHeight = 370;
constexpr int kMinimumHeight = kOpeningHeight;
constexpr int kNarrowestWidth = kStripWidth - kRightMargin;
constexpr int kFilterHeight = 24;
// The rectangles count from the strip's top, where a row of tabs 400 twips high once sat;
// the pages start below the real row of tabs, with the same gap above the first controls.
constexpr int kPageTop = 30;
constexpr int kPageLeft = 1;
constexpr double kHelpPointSize = 6.75;

enum class Kind { kButton, kDefaultButton, kLabel, kCheckBox, kIdleMinutes };

struct Twips {
    int left, top, width, height;
};

struct ControlSpec {
    const char* name;
    Kind kind;
    int page;
    Twips at;
};

// The controls of the two pages, in the order the keyboard goes through them.
constexpr ControlSpec kControls[] = {
    {"cmdAddFile", Kind::kButton, 0, {240, 600, 1095, 735}},
    {"cmdRestoreFile", Kind::kButton, 0, {1680, 600, 975, 735}},
    {"cmdRestore", Kind::kButton, 0, {3120, 600, 975, 735}},
    {"lblAddFile", Kind::kLabel, 0, {240, 1440, 1095, 615}},
    {"lblRestoreFile", Kind::kLabel, 0, {1560, 1440, 1215, 615}},
    {"lblRestore", Kind::kLabel, 0, {3000, 1440, 1215, 615}},
    {"chkEncrypt", Kind::kCheckBox, 0, {840, 2160, 2655, 255}},
    {"cmdShell", Kind::kDefaultButton, 0, {240, 2520, 3975, 735}},
    {"lblShell", Kind::kLabel, 0, {240, 3360, 3975, 1335}},
    {"cmdChangePass", Kind::kButton, 1, {240, 600, 975, 975}},
    {"lblChangePass", Kind::kLabel, 1, {1440, 600, 2775, 975}},
    {"cmdSetExten", Kind::kButton, 1, {240, 1680, 975, 975}},
    {"lblSetExten", Kind::kLabel, 1, {1440, 1680, 2775, 1050}},
    {"cmdSetStorDir", Kind::kButton, 1, {240, 2760, 975, 975}},
    {"lblSetStore", Kind::kLabel, 1, {1440, 2760, 2775, 1305}},
    {"lblSlowRun", Kind::kLabel, 1, {1440, 4080, 2775, 615}},
    {"chkSlowRun", Kind::kCheckBox, 1, {240, 4200, 1095, 315}},
    {"spnIdleLock", Kind::kIdleMinutes, 1, {240, 4800, 975, 360}},
    {"lblIdleLock", Kind::kLabel, 1, {1440, 4800, 2775, 420}},
};

std::string Caption(const std::string& name, const ProgramState& state) {
    if (name == "cmdAddFile")
        return "&Hide File(s)";
    if (name == "cmdRestoreFile")
        return "Restore &Selected File(s)";
    if (name == "cmdRestore")
        return "Restore &All Files";
    if (name == "lblAddFile")
        return kAddFileHelp;
    if (name == "lblRestoreFile")
        return kRestoreFileHelp;
    if (name == "lblRestore")
        return kRestoreHelp;
    if (name == "chkEncrypt")
        return "&Encrypt File(s) When Hiding Them";
    if (name == "cmdShell")
        return "&Run Selected File";
    if (name == "lblShell")
        return std::string(kShellHelpStart) + std::string(kShellHelpSpaces, ' ') + kShellHelpNote;
    if (name == "cmdChangePass")
        return "Change &Password";
    if (name == "lblChangePass")
        return kChangePassHelp;
    if (name == "cmdSetExten")
        return "Set Encrypted File &Extension";
    if (name == "lblSetExten")
        return ExtensionLabelText(state);
    if (name == "cmdSetStorDir")
        return "Set Storage &Folder";
    if (name == "lblSetStore")
        return StorageLabelText(state);
    if (name == "lblSlowRun")
        return kSlowRunHelp;
    if (name == "chkSlowRun")
        return "&Slow Run";
    if (name == "lblIdleLock")
        return kIdleLockHelp;
    return {};
}

constexpr const char* kTabCaptions[] = {"&Manage Files", "&Access and Security Control"};

int ControlId(size_t index) {
    return 1000 + static_cast<int>(index);
}

UINT DpiOf(HWND window) {
    const UINT dpi = window != nullptr ? ::GetDpiForWindow(window) : 0;
    return dpi != 0 ? dpi : 96;
}

int Scaled(int pixels, UINT dpi) {
    return MulDiv(pixels, static_cast<int>(dpi), 96);
}

RECT PageRect(Twips t, UINT dpi) {
    const auto px = [dpi](int twips) { return MulDiv(twips, static_cast<int>(dpi), 1440); };
    const int left = px(t.left) - Scaled(kPageLeft, dpi);
    const int top = px(t.top) - Scaled(kPageTop, dpi);
    return {left, top, left + px(t.width), top + px(t.height)};
}

const DWORD kMainStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

// The frame around an inside of `width` x `height` pixels.
SIZE FrameFor(int width, int height, UINT dpi) {
    RECT frame{0, 0, width, height};
    ::AdjustWindowRectExForDpi(&frame, kMainStyle, FALSE, WS_EX_CONTROLPARENT, dpi);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

}  // namespace

MainWindow::MainWindow(ProgramState& state, UiServices& ui)
    : state_(state), ui_(ui), context_{state_, ui_, catalogue_, *this} {
    static const bool registered = [] {
        WNDCLASSEXW type{};
        type.cbSize = sizeof type;
        type.lpfnWndProc = &MainWindow::procedure;
        type.hInstance = ::GetModuleHandleW(nullptr);
        type.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        type.hIcon = ProgramIcon(true);
        type.hIconSm = ProgramIcon(false);
        type.lpszClassName = kClassName;
        ::RegisterClassExW(&type);
        type.lpfnWndProc = &MainWindow::pageProcedure;
        type.hIcon = type.hIconSm = nullptr;
        type.lpszClassName = kPageClassName;
        ::RegisterClassExW(&type);
        return true;
    }();
    (void)registered;

    // Read now, so that the window opens where it was left; a problem is told by the load step.
    preferencesProblem_ = ReadPreferences(PreferencesPath(state_), preferences_);
    idleLock_.setMinutes(preferences_.idleLockMinutes);
    wchar_t seconds[16] = {};
    if (::GetEnvironmentVariableW(kIdleSecondsVariable, seconds, 16) > 0) {
        idleLock_.setOverrideSeconds(static_cast<int>(std::wcstol(seconds, nullptr, 10)));
    }

    handle_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, Wide(MainCaption()).c_str(),
                                kMainStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
    const UINT dpi = DpiOf(handle_);
    const SIZE frame = FrameFor(Scaled(kOpeningWidth, dpi), Scaled(kOpeningHeight, dpi), dpi);
    ::SetWindowPos(handle_, nullptr, 0, 0, frame.cx, frame.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    buildControls();
    runCommand_ = std::make_unique<RunCommand>(context_, [this](const std::string& caption) {
        SetWindowTextUtf8(control("cmdShell"), caption);
    });
    arrange();
}

MainWindow::~MainWindow() {
    MessageLoop::setInputWatcher({});
    MessageLoop::setKeyFilter({});
    busyWindow_.reset();
    lockWindow_.reset();
    if (handle_ != nullptr) {
        ::SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
        ::DestroyWindow(handle_);
    }
    if (font_ != nullptr) {
        ::DeleteObject(font_);
        ::DeleteObject(helpFont_);
    }
}

void MainWindow::buildControls() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    const auto add = [this](const char* name, HWND window) {
        controls_[name] = window;
        return window;
    };

    // The filter box above the list, as wide as the list.
    const HWND filter =
        add("txtFilter",
            ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0, 0, 0,
                              handle_, reinterpret_cast<HMENU>(900), instance, nullptr));
    ::SendMessageW(filter, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"Filter the list"));
    // Files dropped on the list are hidden like a selection in the file-open dialog.
    const HWND list = add(
        "lstFileList",
        ::CreateWindowExW(WS_EX_CLIENTEDGE | WS_EX_ACCEPTFILES, L"LISTBOX", L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL |
                              LBS_EXTENDEDSEL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS,
                          0, 0, 0, 0, handle_, reinterpret_cast<HMENU>(901), instance, nullptr));
    ::SetWindowSubclass(list, &MainWindow::listProcedure, 1, reinterpret_cast<DWORD_PTR>(this));

    const HWND tabs = add(
        "tabControl",
        ::CreateWindowExW(0, WC_TABCONTROLW, L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | TCS_MULTILINE, 0,
                          0, 0, 0, handle_, reinterpret_cast<HMENU>(902), instance, nullptr));
    for (int page = 0; page < 2; ++page) {
        std::wstring caption = Wide(kTabCaptions[page]);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        ::SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(page),
                       reinterpret_cast<LPARAM>(&item));
        pages_[page] = ::CreateWindowExW(WS_EX_CONTROLPARENT, kPageClassName, L"",
                                         WS_CHILD | WS_CLIPSIBLINGS | (page == 0 ? WS_VISIBLE : 0),
                                         0, 0, 0, 0, handle_, nullptr, instance, this);
    }

    for (size_t i = 0; i < std::size(kControls); ++i) {
        const ControlSpec& spec = kControls[i];
        const std::wstring caption = Wide(Caption(spec.name, state_));
        const HWND page = pages_[spec.page];
        const auto id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(i)));
        HWND made = nullptr;
        switch (spec.kind) {
            case Kind::kButton:
            case Kind::kDefaultButton:
                made = ::CreateWindowExW(
                    0, L"BUTTON", caption.c_str(),
                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_MULTILINE |
                        (spec.kind == Kind::kDefaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON),
                    0, 0, 0, 0, page, id, instance, nullptr);
                break;
            case Kind::kLabel:
                made = ::CreateWindowExW(0, L"STATIC", caption.c_str(),
                                         WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0,
                                         page, id, instance, nullptr);
                break;
            case Kind::kCheckBox:
                made = ::CreateWindowExW(0, L"BUTTON", caption.c_str(),
                                         WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 0,
                                         0, 0, page, id, instance, nullptr);
                break;
            case Kind::kIdleMinutes: {
                made = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                         WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_NUMBER | ES_RIGHT,
                                         0, 0, 0, 0, page, id, instance, nullptr);
                const HWND arrows =
                    ::CreateWindowExW(0, UPDOWN_CLASSW, L"",
                                      WS_CHILD | WS_VISIBLE | UDS_SETBUDDYINT | UDS_ALIGNRIGHT |
                                          UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                                      0, 0, 0, 0, page, nullptr, instance, nullptr);
                ::SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(made), 0);
                ::SendMessageW(arrows, UDM_SETRANGE32, 0, kMaxIdleLockMinutes);
                ::SendMessageW(arrows, UDM_SETPOS32, 0, preferences_.idleLockMinutes);
                controls_["spnIdleLockArrows"] = arrows;
                break;
            }
        }
        controls_[spec.name] = made;
    }
    // What the idle minutes mean, for screen readers, as the label beside them says.
    ::SendMessageW(control("chkEncrypt"), BM_SETCHECK, BST_UNCHECKED, 0);
    // Encrypt when hiding starts off, box and flag alike: hiding then moves the file itself
    // into storage. Sealing is a choice the user makes by ticking the box.
    state_.bolEncrypt = false;
    makeFonts();
}

void MainWindow::makeFonts() {
    const UINT dpi = DpiOf(handle_);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    if (font_ != nullptr) {
        ::DeleteObject(font_);
        ::DeleteObject(helpFont_);
    }
    font_ = ::CreateFontIndirectW(&metrics.lfMessageFont);
    LOGFONTW help = metrics.lfMessageFont;
    help.lfHeight = -static_cast<LONG>(kHelpPointSize * dpi / 72 + 0.5);
    helpFont_ = ::CreateFontIndirectW(&help);
    for (const auto& [name, window] : controls_) {
        const bool isHelp = name.rfind("lbl", 0) == 0;
        ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(isHelp ? helpFont_ : font_),
                       FALSE);
    }
}

void MainWindow::arrange() {
    RECT client{};
    ::GetClientRect(handle_, &client);
    const UINT dpi = DpiOf(handle_);
    const int height = client.bottom;
    const int stripWidth = Scaled(kStripWidth, dpi);
    const int filterHeight = Scaled(kFilterHeight, dpi);
    // Between the narrowest width and the strip's own width the list keeps the width it had.
    const int left = client.right - stripWidth - Scaled(kRightMargin, dpi);
    RECT listNow{};
    ::GetWindowRect(control("lstFileList"), &listNow);
    const int listWidth = left >= 0 ? left : listNow.right - listNow.left;
    ::MoveWindow(control("txtFilter"), 0, 0, listWidth, filterHeight, TRUE);
    ::MoveWindow(control("lstFileList"), 0, filterHeight, listWidth, height - filterHeight, TRUE);
    const HWND tabs = control("tabControl");
    ::MoveWindow(tabs, std::max(left, 0), 0, stripWidth, height, TRUE);
    RECT display{0, 0, stripWidth, height};
    ::SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    for (const HWND page : pages_) {
        ::SetWindowPos(page, HWND_TOP, std::max(left, 0) + display.left, display.top,
                       display.right - display.left, display.bottom - display.top, 0);
    }
    for (size_t i = 0; i < std::size(kControls); ++i) {
        const ControlSpec& spec = kControls[i];
        RECT at = PageRect(spec.at, dpi);
        const HWND window = control(spec.name);
        if (spec.kind == Kind::kCheckBox) {
            // As wide as its caption needs, centred where it has room to grow, at least as
            // tall as the box.
            SIZE wanted{};
            ::SendMessageW(window, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&wanted));
            if (wanted.cx > at.right - at.left) {
                const int middle = (at.left + at.right) / 2;
                at.left = spec.page == 0 ? middle - wanted.cx / 2 : at.left;
                at.right = at.left + wanted.cx;
            }
            if (wanted.cy > at.bottom - at.top) {
                const int middle = (at.top + at.bottom) / 2;
                at.top = middle - wanted.cy / 2;
                at.bottom = at.top + wanted.cy;
            }
        }
        ::MoveWindow(window, at.left, at.top, at.right - at.left, at.bottom - at.top, TRUE);
    }
}

void MainWindow::Form_Resize() {
    if (::IsIconic(handle_) || ::IsZoomed(handle_)) {
        arrange();  // the size is given; the list and the strip still follow it
        return;
    }
    RECT client{};
    ::GetClientRect(handle_, &client);
    const UINT dpi = DpiOf(handle_);
    int width = client.right, height = client.bottom;
    if (height < Scaled(kMinimumHeight, dpi)) {
        height = Scaled(kMinimumHeight, dpi);
    }
    if (width < Scaled(kNarrowestWidth, dpi)) {
        width = Scaled(kOpeningWidth, dpi);
    }
    if (width != client.right || height != client.bottom) {
        const SIZE frame = FrameFor(width, height, dpi);
        ::SetWindowPos(handle_, nullptr, 0, 0, frame.cx, frame.cy,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;  // the resize comes back here with the new size
    }
    arrange();
}

bool MainWindow::load() {
    if (loaded_) {
        return true;
    }
    loaded_ = true;
    CommandScope command(*this);
    // Going on with an empty list would hide new files over the stored files it lists, and
    // write a new settings file over it.
    if (const Result read = loadList(state_, catalogue_, WindowPacing(state_, ui_).slowRun());
        !read.ok()) {
        ShowUnusableSettingsFile(state_, ui_, read);
        unusable_ = true;
        close();
        return false;
    }
    refreshList();
    refreshStorageLabel();
    refreshExtensionLabel();
    SetWindowTextUtf8(handle_, MainCaption());
    ::SendMessageW(control("chkSlowRun"), BM_SETCHECK, BST_CHECKED, 0);
    state_.bolSlowRun = true;
    // The window is up already, and this work yields to it: no command may start meanwhile.
    ::EnableWindow(handle_, FALSE);
    RecoverInterruptedWork(context_);
    ::EnableWindow(handle_, TRUE);
    ErrorRemoveFiles();
    ::SetFocus(control("lstFileList"));

    loadPreferences();
    inputWatched_ = true;
    MessageLoop::setInputWatcher([this] { idleLock_.input(); });
    MessageLoop::setKeyFilter([this](const MSG& message) { return filterKey(message); });
    restartIdleTimer();
    return true;
}

void MainWindow::show() {
    ::ShowWindow(handle_, SW_SHOW);
    ::SetForegroundWindow(handle_);
}

void MainWindow::loadPreferences() {
    const std::string path = PreferencesPath(state_);
    if (const std::string problem = std::exchange(preferencesProblem_, {}); !problem.empty()) {
        ui_.messageBox("Vantory's own settings file " + path + " could not be used: " + problem +
                           ".  The window locks after " +
                           std::to_string(preferences_.idleLockMinutes) +
                           " idle minutes until you set the time again.",
                       UiServices::kExclamation, "Settings file");
    }
    ::SendMessageW(control("spnIdleLockArrows"), UDM_SETPOS32, 0, preferences_.idleLockMinutes);
}

MainWindow::CommandScope::~CommandScope() {
    if (window_.gate_.finished()) {
        window_.scheduleAfterCommands();
    }
}

void MainWindow::scheduleAfterCommands() {
    if (handle_ != nullptr) {
        ::PostMessageW(handle_, kAfterCommands, 0, 0);
    }
}

void MainWindow::afterCommands() {
    CommandGate::Next next = gate_.afterCommands(loaded_ && !unusable_ && !locked(), idleLock_);
    if (next.kind == CommandGate::Next::kLock) {
        lockNow();
    } else if (next.kind == CommandGate::Next::kHide) {
        CommandScope command(*this);  // its end looks at the next list
        if (readyForCommand()) {
            HideSelection(context_, next.paths, [this] { refreshList(); });
        }
    }
}

void MainWindow::hideHandedOver(const std::vector<std::string>& paths) {
    if (paths.empty()) {
        return;
    }
    gate_.handOver(paths);
    bringForward();
    scheduleAfterCommands();
}

void MainWindow::bringForward() {
    HWND front = handle_;
    if (locked()) {
        front = lockWindow_->handle();
    } else if (gate_.busyWithCommand() && busyWindow() != nullptr) {
        front = busyWindow_->handle();
    }
    if (front == nullptr || !::IsWindowVisible(front)) {
        return;
    }
    if (::IsIconic(front)) {
        ::ShowWindow(front, SW_RESTORE);
    }
    ::SetForegroundWindow(front);
}

void MainWindow::restartIdleTimer() {
    if (inputWatched_) {
        idleLock_.restart(locked());
    }
}

void MainWindow::idleTimer_Timer() {
    if (idleLock_.timerFired()) {
        idleTimeElapsed();
    }
}

void MainWindow::idleTimeElapsed() {
    if (loaded_ && !locked() && idleLock_.lockDue(gate_.commandRunning())) {
        lockNow();
    }
}

void MainWindow::lockNow() {
    idleLock_.locked();
    busyWindowWasShown_ = busyWindow() != nullptr && ::IsWindowVisible(busyWindow_->handle());
    if (busyWindowWasShown_) {
        ::ShowWindow(busyWindow_->handle(), SW_HIDE);
    }
    ::ShowWindow(handle_, SW_HIDE);
    // The password window as at the start, asking for the password in force now.
    lockWindow_ = std::make_unique<LoginWindow>(state_, ui_);
    lockWindow_->loggedIn = [this] { unlock(); };
    // Cancel ends the program as at the start, by the rules of closing this window.
    lockWindow_->cancelled = [this] { close(); };
    lockWindow_->show();
}

void MainWindow::unlock() {
    retiredLockWindow_ = std::move(lockWindow_);  // its handler is running
    show();
    if (busyWindowWasShown_ && busyWindow() != nullptr) {
        ::ShowWindow(busyWindow_->handle(), SW_SHOWNOACTIVATE);
    }
    busyWindowWasShown_ = false;
    restartIdleTimer();
    scheduleAfterCommands();  // handed-over files may be waiting
}

void MainWindow::spnIdleLock_Change() {
    BOOL failed = FALSE;
    const int minutes = static_cast<int>(::SendMessageW(control("spnIdleLockArrows"), UDM_GETPOS32,
                                                        0, reinterpret_cast<LPARAM>(&failed)));
    if (minutes == preferences_.idleLockMinutes) {
        return;
    }
    CommandScope command(*this);
    preferences_.idleLockMinutes = minutes;
    idleLock_.setMinutes(minutes);
    restartIdleTimer();
    const std::string path = PreferencesPath(state_);
    if (const Status s = WritePreferences(path, preferences_); !s.ok()) {
        ui_.messageBox("The idle time could not be saved in " + path + " (" + s.message() +
                           ").  It applies until Vantory ends.",
                       UiServices::kExclamation, "Settings file");
    }
}

std::vector<size_t> MainWindow::selectedPositions() const {
    const HWND list = control("lstFileList");
    const auto count = static_cast<int>(::SendMessageW(list, LB_GETSELCOUNT, 0, 0));
    std::vector<int> rows(static_cast<size_t>(std::max(count, 0)));
    if (count > 0) {
        ::SendMessageW(list, LB_GETSELITEMS, static_cast<WPARAM>(count),
                       reinterpret_cast<LPARAM>(rows.data()));
    }
    std::sort(rows.begin(), rows.end());
    std::vector<size_t> positions;
    for (const int row : rows) {
        positions.push_back(list_.positionAt(row));
    }
    return positions;
}

int MainWindow::currentPosition() const {
    const HWND list = control("lstFileList");
    const auto row = static_cast<int>(::SendMessageW(list, LB_GETCARETINDEX, 0, 0));
    if (row < 0 || row >= static_cast<int>(list_.positions().size()) ||
        ::SendMessageW(list, LB_GETCOUNT, 0, 0) == 0) {
        return -1;
    }
    return static_cast<int>(list_.positionAt(row));
}

void MainWindow::refreshList() {
    const std::vector<size_t> selected = selectedPositions();
    const int current = currentPosition();
    // Letter case folded as the system knows the letters of every script.
    const CaseFold fold = [](std::string_view text) {
        std::wstring wide = Wide(std::string(text));
        if (!wide.empty()) {
            ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.data(),
                            static_cast<int>(wide.size()), wide.data(),
                            static_cast<int>(wide.size()), nullptr, nullptr, 0);
        }
        return Narrow(wide);
    };
    list_.show(catalogue_, WindowText(control("txtFilter")), fold);
    const HWND list = control("lstFileList");
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
    int widest = 0;
    const HDC dc = ::GetDC(list);
    const HGDIOBJ was = ::SelectObject(dc, font_);
    for (const size_t position : list_.positions()) {
        const std::wstring path = Wide(catalogue_.at(position).path);
        ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path.c_str()));
        SIZE size{};
        ::GetTextExtentPoint32W(dc, path.c_str(), static_cast<int>(path.size()), &size);
        widest = std::max<int>(widest, size.cx);
    }
    ::SelectObject(dc, was);
    ::ReleaseDC(list, dc);
    ::SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 8), 0);
    drawSelection(list_.keep(selected, current));
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
}

void MainWindow::setSelection(const std::vector<size_t>& positions, int current) {
    ::SendMessageW(control("lstFileList"), LB_SETSEL, FALSE, -1);
    drawSelection(list_.select(positions, current));
}

void MainWindow::drawSelection(const FilteredCatalogue::Selection& selection) {
    const HWND list = control("lstFileList");
    for (const int row : selection.rows) {
        ::SendMessageW(list, LB_SETSEL, TRUE, row);
    }
    if (selection.currentRow >= 0) {
        ::SendMessageW(list, LB_SETCARETINDEX, static_cast<WPARAM>(selection.currentRow), FALSE);
    }
}

void MainWindow::selectFirst() {
    if (!list_.positions().empty()) {
        setSelection({list_.positionAt(0)}, static_cast<int>(list_.positionAt(0)));
    }
}

void MainWindow::refreshStorageLabel() {
    SetWindowTextUtf8(control("lblSetStore"), StorageLabelText(state_));
}

void MainWindow::refreshExtensionLabel() {
    SetWindowTextUtf8(control("lblSetExten"), ExtensionLabelText(state_));
}

HWND MainWindow::control(const std::string& name) const {
    const auto found = controls_.find(name);
    return found != controls_.end() ? found->second : nullptr;
}

int MainWindow::currentPage() const {
    return static_cast<int>(::SendMessageW(control("tabControl"), TCM_GETCURSEL, 0, 0));
}

void MainWindow::showPage(int page) {
    ::SendMessageW(control("tabControl"), TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
    ::ShowWindow(pages_[page], SW_SHOW);
    ::ShowWindow(pages_[1 - page], SW_HIDE);
}

void MainWindow::setEnabled(const char* name, bool enabled) {
    ::EnableWindow(control(name), enabled ? TRUE : FALSE);
}

bool MainWindow::enabled(const char* name) const {
    return ::IsWindowEnabled(control(name)) != 0;
}

BusyWindow& MainWindow::ensureBusyWindow() {
    if (busyWindow() == nullptr) {
        busyWindow_ = std::make_unique<BusyWindow>(state_);
    }
    return *busyWindow_;
}

BusyWindow& MainWindow::showBusyWindow() {
    BusyWindow& busy = ensureBusyWindow();
    if (!::IsWindowVisible(busy.handle())) {
        // Over the middle of this window, where the user is looking.
        RECT frame{}, own{};
        ::GetWindowRect(handle_, &frame);
        ::GetWindowRect(busy.handle(), &own);
        const int width = own.right - own.left, height = own.bottom - own.top;
        ::SetWindowPos(busy.handle(), HWND_TOP, (frame.left + frame.right - width) / 2,
                       (frame.top + frame.bottom - height) / 2, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    }
    ::SetWindowPos(busy.handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return busy;
}

void MainWindow::OpRunning(bool running) {
    const CommandGate::Controls controls = gate_.setBusy(running);
    if (controls.busyWindow == true) {
        showBusyWindow();
    } else if (controls.busyWindow == false && busyWindow() != nullptr) {
        // The keyboard goes back to the window in front when the busy window had it.
        const bool hadKeyboard = ::GetActiveWindow() == busyWindow_->handle();
        ::ShowWindow(busyWindow_->handle(), SW_HIDE);  // it closes itself at its next tick
        if (hadKeyboard) {
            bringForward();
        }
    }
    for (const char* name :
         {"txtFilter", "lstFileList", "cmdAddFile", "cmdRestoreFile", "cmdRestore"}) {
        setEnabled(name, controls.list);
    }
    if (controls.run) {
        setEnabled("cmdShell", *controls.run);
    }
    for (const char* name : {"cmdChangePass", "cmdSetStorDir", "cmdSetExten", "chkSlowRun"}) {
        setEnabled(name, controls.settings);
    }
    if (controls.tabs) {
        setEnabled("tabControl", *controls.tabs);
        setEnabled("chkEncrypt", *controls.tabs);
    }
    if (running) {
        return;
    }
    if (gate_.takeWaitingClose()) {
        // Close once the command that just left the busy state has returned.
        ::PostMessageW(handle_, kCloseNow, 0, 0);
    }
    scheduleAfterCommands();
}

void MainWindow::Form_GotFocus() {
    // While a command runs, the busy window is the one to look at.
    if (gate_.busyWithCommand()) {
        ::SetForegroundWindow(showBusyWindow().handle());
    }
}

void MainWindow::close() {
    if (handle_ != nullptr) {
        ::PostMessageW(handle_, WM_CLOSE, 0, 0);
    }
}

void MainWindow::finishClose() {
    // Ending in the middle of a command could cut a file short: the close waits for it.
    if (!gate_.mayClose()) {
        ensureBusyWindow().showClosingNote();
        showBusyWindow();
        return;
    }
    busyWindow_.reset();
    MessageLoop::setInputWatcher({});
    MessageLoop::setKeyFilter({});
    idleTimer_.stop();
    const HWND window = std::exchange(handle_, nullptr);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    ::DestroyWindow(window);
    ::PostQuitMessage(0);
}

bool MainWindow::filterKey(const MSG& message) {
    if (handle_ == nullptr || ::GetAncestor(message.hwnd, GA_ROOT) != handle_) {
        return false;
    }
    const HWND filter = control("txtFilter");
    if (message.message == WM_KEYDOWN) {
        const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
        // Ctrl+F reaches the filter box from anywhere in the window, Esc in it clears it.
        if (ctrl && message.wParam == 'F' && ::IsWindowEnabled(filter)) {
            ::SetFocus(filter);
            ::SendMessageW(filter, EM_SETSEL, 0, -1);
            return true;
        }
        if (message.wParam == VK_ESCAPE && message.hwnd == filter) {
            ::SetWindowTextW(filter, L"");
            return true;
        }
        // Enter in the idle minutes sets them.
        if (message.wParam == VK_RETURN && message.hwnd == control("spnIdleLock")) {
            spnIdleLock_Change();
            return true;
        }
    }
    // A tab's mnemonic selects it, unless a control of the page shown takes the letter
    // (Restore All Files, as on the first page, comes before the second tab).
    if (message.message == WM_SYSCHAR && ::IsWindowEnabled(control("tabControl"))) {
        const wchar_t letter =
            static_cast<wchar_t>(::towlower(static_cast<wint_t>(message.wParam)));
        for (int page = 0; page < 2; ++page) {
            const std::string caption = kTabCaptions[page];
            const wchar_t mnemonic =
                static_cast<wchar_t>(::towlower(caption[caption.find('&') + 1]));
            if (letter != mnemonic) {
                continue;
            }
            if (page == 1 && currentPage() == 0 && enabled("cmdRestore")) {
                return false;  // Alt+A on the first page: Restore All Files
            }
            showPage(page);
            ::SetFocus(control("tabControl"));
            return true;
        }
    }
    return false;
}

void MainWindow::filesDropped(HDROP drop) {
    std::vector<std::string> paths;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        path.resize(::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        paths.push_back(Narrow(path));
    }
    ::DragFinish(drop);
    if (paths.empty() || !gate_.takesDrops() || !enabled("cmdAddFile")) {
        return;
    }
    CommandScope command(*this);
    if (readyForCommand()) {
        HideSelection(context_, paths, [this] { refreshList(); });
    }
}

bool MainWindow::readyForCommand() {
    if (unusable_) {
        return false;
    }
    if (FinishPendingWork(context_)) {
        // Interrupted work finished just now may have moved the storage folder.
        return ClaimStorageFolder(state_, ui_, false);
    }
    refreshList();
    refreshStorageLabel();
    refreshExtensionLabel();
    return false;
}

void MainWindow::cmdAddFile_Click() {
    CommandScope command(*this);
    if (!readyForCommand()) {
        return;
    }
    AddFiles(context_, [this] { refreshList(); });
}

void MainWindow::cmdRestoreFile_Click() {
    CommandScope command(*this);
    if (!readyForCommand()) {
        return;
    }
    // Entries that stay hidden end selected; the others have left the list.
    RestoreSelected(context_, currentPosition(), selectedPositions(),
                    [this](const RestoreOutcome& outcome) {
                        refreshList();
                        setSelection(outcome.stillHidden);
                    });
}

void MainWindow::cmdRestore_Click() {
    CommandScope command(*this);
    if (!readyForCommand()) {
        return;
    }
    RestoreAll(context_, [this](const RestoreOutcome& outcome) {
        refreshList();
        setSelection(outcome.stillHidden);
    });
}

void MainWindow::cmdShell_Click() {
    CommandScope command(*this);
    // The second press only puts away the file the first one opened.
    if (!runCommand_->waiting() && !readyForCommand()) {
        return;
    }
    runCommand_->press(EntryToRun(selectedPositions(), currentPosition()));
}

void MainWindow::cmdChangePass_Click() {
    CommandScope command(*this);
    if (!readyForCommand()) {
        return;
    }
    ChangePassCommand(context_);
}

void MainWindow::cmdSetExten_Click() {
    CommandScope command(*this);
    if (!readyForCommand()) {
        return;
    }
    if (SetExtensionCommand(context_)) {
        refreshExtensionLabel();
    }
}

void MainWindow::cmdSetStorDir_Click() {
    CommandScope command(*this);
    if (!readyForCommand()) {
        return;
    }
    if (SetStorageDirCommand(context_)) {
        refreshStorageLabel();
    }
}

void MainWindow::chkEncrypt_Click() {
    state_.bolEncrypt = ::SendMessageW(control("chkEncrypt"), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::chkSlowRun_Click() {
    state_.bolSlowRun = ::SendMessageW(control("chkSlowRun"), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::ErrorRemoveFiles() {
    refreshList();  // interrupted work finished just before may have changed the catalogue
    vantory::ErrorRemoveFiles(context_, {}, [this] { refreshList(); });
    selectFirst();
}

void MainWindow::command(int id, int code) {
    if (id == 900 && code == EN_CHANGE) {
        refreshList();
        return;
    }
    const size_t index = static_cast<size_t>(id - ControlId(0));
    if (id < ControlId(0) || index >= std::size(kControls)) {
        return;
    }
    const std::string name = kControls[index].name;
    if (name == "spnIdleLock") {
        if (code == EN_KILLFOCUS) {
            spnIdleLock_Change();
        }
        return;
    }
    if (code != BN_CLICKED) {
        return;
    }
    if (name == "cmdAddFile")
        cmdAddFile_Click();
    else if (name == "cmdRestoreFile")
        cmdRestoreFile_Click();
    else if (name == "cmdRestore")
        cmdRestore_Click();
    else if (name == "cmdShell")
        cmdShell_Click();
    else if (name == "cmdChangePass")
        cmdChangePass_Click();
    else if (name == "cmdSetExten")
        cmdSetExten_Click();
    else if (name == "cmdSetStorDir")
        cmdSetStorDir_Click();
    else if (name == "chkEncrypt")
        chkEncrypt_Click();
    else if (name == "chkSlowRun")
        chkSlowRun_Click();
}

LRESULT MainWindow::handle(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_COMMAND:
            command(LOWORD(w), HIWORD(w));
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(l);
            if (header->hwndFrom == control("tabControl") && header->code == TCN_SELCHANGE) {
                showPage(currentPage());
            } else if (header->hwndFrom == control("spnIdleLockArrows") &&
                       header->code == UDN_DELTAPOS) {
                // The position moves after this notice.
                ::PostMessageW(handle_, WM_COMMAND, MAKEWPARAM(ControlId(17), EN_KILLFOCUS), 0);
            }
            return 0;
        }
        case DM_GETDEFID:
            // Enter presses Run Selected File unless a button with the focus took it first.
            if (currentPage() == 0 && enabled("cmdShell") && enabled("tabControl")) {
                return MAKELRESULT(ControlId(7), DC_HASDEFID);
            }
            return 0;
        case WM_SIZE:
            Form_Resize();
            return 0;
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(l);
            const UINT dpi = DpiOf(handle_);
            limits->ptMinTrackSize.y = FrameFor(0, Scaled(kMinimumHeight, dpi), dpi).cy;
            return 0;
        }
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(l);
            ::SetWindowPos(handle_, nullptr, suggested->left, suggested->top,
                           suggested->right - suggested->left, suggested->bottom - suggested->top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            makeFonts();
            arrange();
            return 0;
        }
        case WM_ACTIVATE:
            if (LOWORD(w) != WA_INACTIVE) {
                Form_GotFocus();
            }
            break;
        case WM_SETCURSOR:
            if (Win32UiServices::waitCursorShown()) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        case WM_CLOSE:
            finishClose();
            return 0;
        case kCloseNow:
            finishClose();
            return 0;
        case kAfterCommands:
            retiredLockWindow_.reset();
            afterCommands();
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(handle_, message, w, l);
}

LRESULT CALLBACK MainWindow::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
        auto* self = static_cast<MainWindow*>(create->lpCreateParams);
        self->handle_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr || self->handle_ != window) {
        return ::DefWindowProcW(window, message, w, l);
    }
    return self->handle(message, w, l);
}

// A page passes what its controls say on to the main window.
LRESULT CALLBACK MainWindow::pageProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && self->handle_ != nullptr &&
        (message == WM_COMMAND || message == WM_NOTIFY)) {
        return self->handle(message, w, l);
    }
    return ::DefWindowProcW(window, message, w, l);
}

LRESULT CALLBACK MainWindow::listProcedure(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                           DWORD_PTR data) {
    if (message == WM_DROPFILES) {
        // Answered first, so that the file manager is not kept waiting for the hide.
        auto* self = reinterpret_cast<MainWindow*>(data);
        self->filesDropped(reinterpret_cast<HDROP>(w));
        return 0;
    }
    return ::DefSubclassProc(window, message, w, l);
}

}  // namespace vantory::winui
