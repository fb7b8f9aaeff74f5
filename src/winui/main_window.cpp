#include "winui/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cwctype>

#include "session/captions.h"
#include "session/main_form.h"
#include "session/window_place.h"
#include "winui/message_loop.h"
#include "winui/win_text.h"
#include "winui/win_ui_services.h"

namespace vantory::winui {

namespace {

constexpr const wchar_t* kClassName = L"VantoryMainWindow";
constexpr const wchar_t* kPageClassName = L"VantoryPage";
constexpr UINT kLater = WM_APP + 10;
constexpr int kFilterId = 900, kListId = 901, kTabsId = 902;
// The filter box's height at 96 dots per inch.
constexpr int kFilterHeight = 24;
constexpr int kArrowsWidth = 14;  // the idle minutes' arrows
constexpr DWORD kMainStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kMainExStyle = WS_EX_CONTROLPARENT;

int ControlId(size_t index) {
    return 1000 + static_cast<int>(index);
}

UINT DpiOf(HWND window) {
    const UINT dpi = window != nullptr ? ::GetDpiForWindow(window) : 0;
    return dpi != 0 ? dpi : 96;
}

// Pixels of a 96-dpi screen on this one, and back.
int Scaled(int pixels, UINT dpi) {
    return MulDiv(pixels, static_cast<int>(dpi), 96);
}
int Unscaled(int pixels, UINT dpi) {
    return MulDiv(pixels, 96, static_cast<int>(dpi));
}

// The frame around an inside of `width` x `height` pixels.
SIZE FrameFor(int width, int height, UINT dpi) {
    RECT frame{0, 0, width, height};
    ::AdjustWindowRectExForDpi(&frame, kMainStyle, FALSE, kMainExStyle, dpi);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

// The idle minutes as the box shows them: "Never" for 0, else "15 min".
std::string MinutesText(int minutes) {
    return minutes == 0 ? main_form::kIdleLockNever
                        : std::to_string(minutes) + main_form::kIdleLockSuffix;
}

// The minutes typed in the box: its leading digits, 0 for "Never"; none for anything else.
std::optional<int> MinutesTyped(const std::string& text) {
    size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos) {
        return std::nullopt;
    }
    if (text.compare(start, std::string::npos, main_form::kIdleLockNever) == 0) {
        return 0;
    }
    int minutes = 0;
    size_t digits = 0;
    for (size_t i = start; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 6;
         ++i, ++digits) {
        minutes = minutes * 10 + (text[i] - '0');
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return std::min(minutes, kMaxIdleLockMinutes);
}

// Letter case folded away as the system knows the letters of every script.
std::string CaseFolded(std::string_view text) {
    std::wstring wide = Wide(std::string(text));
    if (!wide.empty()) {
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.data(),
                        static_cast<int>(wide.size()), wide.data(), static_cast<int>(wide.size()),
                        nullptr, nullptr, 0);
    }
    return Narrow(wide);
}

// Draws the help text beside Run Selected File: the run of spaces that pushes its note onto a
// line of its own is a line break here, as the system's word wrap would keep it on the line of
// the last word before it.
LRESULT CALLBACK ShellHelpProcedure(HWND label, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                    DWORD_PTR) {
    if (message != WM_PAINT) {
        return ::DefSubclassProc(label, message, w, l);
    }
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(label, &paint);
    RECT area{};
    ::GetClientRect(label, &area);
    ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_BTNFACE));
    const HGDIOBJ was =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(label, WM_GETFONT, 0, 0)));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
    std::wstring text = Wide(WindowText(label));
    const std::wstring spaces(kShellHelpSpaces, L' ');
    if (const size_t at = text.find(spaces); at != std::wstring::npos) {
        text.replace(at, spaces.size(), L"\r\n");
    }
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
                DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
    ::SelectObject(dc, was);
    ::EndPaint(label, &paint);
    return 0;
}

// The work areas of the screens there are now, the primary one first.
std::vector<ScreenArea> Screens() {
    std::vector<ScreenArea> screens;
    ::EnumDisplayMonitors(
        nullptr, nullptr,
        [](HMONITOR monitor, HDC, LPRECT, LPARAM data) -> BOOL {
            MONITORINFO info{};
            info.cbSize = sizeof info;
            if (::GetMonitorInfoW(monitor, &info)) {
                auto& list = *reinterpret_cast<std::vector<ScreenArea>*>(data);
                const RECT& work = info.rcWork;
                const ScreenArea area{work.left, work.top, work.right - work.left,
                                      work.bottom - work.top};
                if ((info.dwFlags & MONITORINFOF_PRIMARY) != 0) {
                    list.insert(list.begin(), area);
                } else {
                    list.push_back(area);
                }
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&screens));
    return screens;
}

}  // namespace

MainWindow::MainWindow(ProgramState& state, UiServices& ui)
    : state_(state), ui_(ui), session_(state_, ui_, *this, clock_, idleTimer_) {
    RegisterWindowClass(kClassName, &MainWindow::procedure, IDC_ARROW, true);
    RegisterWindowClass(kPageClassName, &MainWindow::pageProcedure);
    handle_ = ::CreateWindowExW(kMainExStyle, kClassName, Wide(MainCaption()).c_str(), kMainStyle,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                nullptr, ::GetModuleHandleW(nullptr), this);
    const UINT dpi = DpiOf(handle_);
    listWidth_ = Scaled(main_form::kListWidth, dpi);
    buildControls();
    const SIZE frame = FrameFor(Scaled(main_form::kOpeningWidth, dpi),
                                Scaled(main_form::kOpeningHeight, dpi), dpi);
    ::SetWindowPos(handle_, nullptr, 0, 0, frame.cx, frame.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    placeAsLeft();
}

MainWindow::~MainWindow() {
    MessageLoop::setInputWatcher({});
    MessageLoop::setKeyFilter({});
    busyWindow_.reset();
    lockWindow_.reset();
    retiredLockWindow_.reset();
    if (handle_ != nullptr) {
        ForgetObject(handle_);
        ::DestroyWindow(handle_);
    }
    if (font_ != nullptr) {
        ::DeleteObject(font_);
        ::DeleteObject(helpFont_);
    }
}

void MainWindow::buildControls() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    const auto child = [&](DWORD exStyle, const wchar_t* type, const std::wstring& text,
                           DWORD style, HWND parent, int id) {
        return ::CreateWindowExW(exStyle, type, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0,
                                 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 instance, nullptr);
    };

    // The filter box sits above the list, as wide as the list; the list gives up its height.
    const HWND filter = controls_["txtFilter"] =
        child(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, handle_, kFilterId);
    ::SendMessageW(filter, EM_SETCUEBANNER, TRUE,
                   reinterpret_cast<LPARAM>(Wide(main_form::kFilterPlaceholder).c_str()));
    // Files dropped on the list are hidden like a selection in the file-open dialog.
    const HWND list = controls_["lstFileList"] =
        child(WS_EX_CLIENTEDGE | WS_EX_ACCEPTFILES, L"LISTBOX", L"",
              WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_EXTENDEDSEL | LBS_NOTIFY |
                  LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS,
              handle_, kListId);
    ::SetWindowSubclass(list, &MainWindow::listProcedure, 1, reinterpret_cast<DWORD_PTR>(this));

    const HWND tabs = controls_["tabControl"] = child(
        0, WC_TABCONTROLW, L"", WS_TABSTOP | WS_CLIPSIBLINGS | TCS_MULTILINE, handle_, kTabsId);
    for (int page = 0; page < 2; ++page) {
        std::wstring caption = Wide(main_form::kPageCaptions[page]);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        ::SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(page),
                       reinterpret_cast<LPARAM>(&item));
        pages_[page] = ::CreateWindowExW(WS_EX_CONTROLPARENT, kPageClassName, L"",
                                         WS_CHILD | WS_CLIPSIBLINGS | (page == 0 ? WS_VISIBLE : 0),
                                         0, 0, 0, 0, handle_, nullptr, instance, this);
    }

    const auto form = main_form::Controls();
    for (size_t i = 0; i < form.size(); ++i) {
        const main_form::Control& spec = form[i];
        const std::wstring caption = Wide(main_form::Caption(spec, state_));
        const HWND page = pages_[static_cast<int>(spec.page)];
        HWND made = nullptr;
        switch (spec.kind) {
            case main_form::Kind::kButton: {
                // A focused button takes Enter itself; elsewhere Enter presses Run Selected File.
                const DWORD push =
                    std::string_view(spec.name) == "cmdShell" ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
                made = child(0, L"BUTTON", caption, WS_TABSTOP | BS_MULTILINE | push, page,
                             ControlId(i));
                break;
            }
            case main_form::Kind::kHelpLabel:
                made = child(0, L"STATIC", caption, SS_LEFT | SS_NOPREFIX, page, ControlId(i));
                break;
            case main_form::Kind::kCheckBox:
                made =
                    child(0, L"BUTTON", caption, WS_TABSTOP | BS_AUTOCHECKBOX, page, ControlId(i));
                break;
            case main_form::Kind::kMinutes: {
                made = child(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, page,
                             ControlId(i));
                // The arrows sit beside the box, which keeps its width for "Never" and "15 min".
                const HWND arrows = child(0, UPDOWN_CLASSW, L"", UDS_ARROWKEYS, page, 0);
                ::SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(made), 0);
                ::SendMessageW(arrows, UDM_SETRANGE32, 0, kMaxIdleLockMinutes);
                controls_[std::string(spec.name) + "Arrows"] = arrows;
                break;
            }
        }
        controls_[spec.name] = made;
    }
    showIdleMinutes(session_.preferences().idleLockMinutes());
    ::SetWindowSubclass(control("lblShell"), ShellHelpProcedure, 1, 0);

    // Encrypt when hiding starts off, box and flag alike: hiding then moves the file itself
    // into storage, so it leaves its old place and comes back byte for byte. Sealing is a
    // choice the user makes by ticking the box.
    ::SendMessageW(control("chkEncrypt"), BM_SETCHECK, BST_UNCHECKED, 0);
    state_.bolEncrypt = false;
    makeFonts();
}

void MainWindow::makeFonts() {
    const UINT dpi = DpiOf(handle_);
    if (font_ != nullptr) {
        ::DeleteObject(font_);
        ::DeleteObject(helpFont_);
    }
    font_ = MessageFont(dpi);
    helpFont_ = MessageFont(dpi, main_form::kHelpPointSize);
    for (const auto& [name, window] : controls_) {
        const main_form::Control* spec = main_form::Find(name.c_str());
        const bool small = spec != nullptr && spec->kind == main_form::Kind::kHelpLabel;
        ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(small ? helpFont_ : font_),
                       FALSE);
    }
}

bool MainWindow::load() {
    if (session_.loaded()) {
        return true;
    }
    if (!session_.load()) {
        return false;
    }
    ::SetFocus(control("lstFileList"));  // the list has the keyboard first
    MessageLoop::setInputWatcher([this] { session_.input(); });
    MessageLoop::setKeyFilter([this](const MSG& message) { return filterKey(message); });
    return true;
}

void MainWindow::show() {
    ::ShowWindow(handle_, openMaximized_ ? SW_SHOWMAXIMIZED : SW_SHOW);
    openMaximized_ = false;
    ::SetForegroundWindow(handle_);
}

void MainWindow::placeAsLeft() {
    if (!session_.preferences().place()) {
        return;
    }
    const OpeningPlace opening = PlaceAsLeft(*session_.preferences().place(), Screens());
    const SIZE frame = FrameFor(opening.width, opening.height, DpiOf(handle_));
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (!opening.x || !opening.y) {
        flags |= SWP_NOMOVE;
    }
    ::SetWindowPos(handle_, nullptr, opening.x.value_or(0), opening.y.value_or(0), frame.cx,
                   frame.cy, flags);
    openMaximized_ = opening.maximized;
}

std::optional<WindowPlace> MainWindow::currentPlace() const {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!::GetWindowPlacement(handle_, &placement)) {
        return std::nullopt;
    }
    // The frame as it is, or as it goes back to; the place's size is that of its inside.
    RECT frame{};
    const bool normal = !::IsIconic(handle_) && !::IsZoomed(handle_);
    if (normal) {
        ::GetWindowRect(handle_, &frame);
    } else {
        frame = placement.rcNormalPosition;
    }
    const SIZE border = FrameFor(0, 0, DpiOf(handle_));
    const int width = frame.right - frame.left - border.cx;
    const int height = frame.bottom - frame.top - border.cy;
    if (width <= 0 || height <= 0) {
        return std::nullopt;
    }
    return WindowPlace{frame.left, frame.top, width, height, ::IsZoomed(handle_) != 0};
}

void MainWindow::hideHandedOver(const std::vector<std::string>& paths) {
    if (!paths.empty()) {
        session_.handOver(paths);
        bringForward();
    }
}

void MainWindow::bringForward() {
    HWND front = handle_;
    switch (session_.gate().windowInFront(locked())) {
        case CommandGate::Front::kPassword:
            front = lockWindow_ ? lockWindow_->handle() : front;
            break;
        case CommandGate::Front::kBusy:
            front = busyWindow() != nullptr ? busyWindow_->handle() : front;
            break;
        case CommandGate::Front::kMain:
            break;
    }
    if (front == nullptr || !::IsWindowVisible(front)) {
        return;
    }
    if (::IsIconic(front)) {
        ::ShowWindow(front, SW_RESTORE);
    }
    ::SetForegroundWindow(front);
}

void MainWindow::later(std::function<void()> then) {
    later_.push_back(std::move(then));
    ::PostMessageW(handle_, kLater, 0, 0);
}

void MainWindow::lock() {
    busyWindowWasShown_ = busyWindow() != nullptr && ::IsWindowVisible(busyWindow_->handle());
    if (busyWindowWasShown_) {
        ::ShowWindow(busyWindow_->handle(), SW_HIDE);
    }
    ::ShowWindow(handle_, SW_HIDE);
    // The password window as at the start, asking for the password in force now.
    lockWindow_ = std::make_unique<LoginWindow>(state_, ui_);
    lockWindow_->loggedIn = [this] { unlock(); };
    // Cancel ends the program as at the start, by the rules of closing this window: with a
    // file open for Run Selected File it ends at once and the file is put away at the next
    // start.
    lockWindow_->cancelled = [this] { close(); };
    lockWindow_->show();
}

void MainWindow::unlock() {
    retiredLockWindow_ = std::move(lockWindow_);  // its handler is running; it goes later
    ::ShowWindow(handle_, SW_SHOW);
    ::SetForegroundWindow(handle_);
    if (busyWindowWasShown_ && busyWindow() != nullptr) {
        ::ShowWindow(busyWindow_->handle(), SW_SHOWNOACTIVATE);
    }
    busyWindowWasShown_ = false;
    session_.unlocked();
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
    if (row < 0 || static_cast<size_t>(row) >= list_.positions().size()) {
        return -1;
    }
    return static_cast<int>(list_.positionAt(row));
}

void MainWindow::showList() {
    const std::vector<size_t> selected = selectedPositions();
    const int current = currentPosition();
    list_.show(session_.catalogue(), WindowText(control("txtFilter")), CaseFolded);
    const HWND list = control("lstFileList");
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
    // As wide as the longest path, so that the list scrolls across to its end.
    int widest = 0;
    const HDC dc = ::GetDC(list);
    const HGDIOBJ was = ::SelectObject(dc, font_);
    for (const size_t position : list_.positions()) {
        const std::wstring path = Wide(session_.catalogue().at(position).path);
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

void MainWindow::showStorageLabel() {
    SetWindowTextUtf8(control("lblSetStore"), StorageLabelText(state_));
}

void MainWindow::showExtensionLabel() {
    SetWindowTextUtf8(control("lblSetExten"), ExtensionLabelText(state_));
}

void MainWindow::showRunCaption(const std::string& caption) {
    SetWindowTextUtf8(control("cmdShell"), caption);
}

void MainWindow::showSlowRun(bool on) {
    ::SendMessageW(control("chkSlowRun"), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindow::setUsable(bool usable) {
    ::EnableWindow(handle_, usable ? TRUE : FALSE);
}

void MainWindow::showIdleMinutes(int minutes) {
    ::SendMessageW(control("spnIdleLockArrows"), UDM_SETPOS32, 0, minutes);
    SetWindowTextUtf8(control("spnIdleLock"), MinutesText(minutes));
}

void MainWindow::setIdleMinutesText(const std::string& text) {
    SetWindowTextUtf8(control("spnIdleLock"), text);
    idleMinutesChanged();
}

// Typing "15" is one change, made when the user leaves the box or presses Enter; what is not
// a number of minutes goes back to the minutes in force.
void MainWindow::idleMinutesChanged() {
    const std::optional<int> typed = MinutesTyped(WindowText(control("spnIdleLock")));
    if (typed) {
        session_.setIdleLockMinutes(*typed);
    }
    showIdleMinutes(session_.preferences().idleLockMinutes());
}

HWND MainWindow::control(const std::string& name) const {
    const auto found = controls_.find(name);
    return found != controls_.end() ? found->second : nullptr;
}

bool MainWindow::enabled(const char* name) const {
    return ::IsWindowEnabled(control(name)) != 0;
}

int MainWindow::currentPage() const {
    return static_cast<int>(::SendMessageW(control("tabControl"), TCM_GETCURSEL, 0, 0));
}

void MainWindow::showPage(int page) {
    ::SendMessageW(control("tabControl"), TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
    ::ShowWindow(pages_[page], SW_SHOW);
    ::ShowWindow(pages_[1 - page], SW_HIDE);
}

BusyWindow* MainWindow::busyWindow() const {
    return busyWindow_ && busyWindow_->open() ? busyWindow_.get() : nullptr;
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

void MainWindow::showControls(const CommandGate::Controls& controls) {
    if (const HWND focus = ::GetFocus(); ::IsChild(handle_, focus)) {
        lastFocus_ = focus;  // a control that is disabled drops the keyboard
    }
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
    const auto enable = [this](const char* name, bool on) {
        ::EnableWindow(control(name), on ? TRUE : FALSE);
    };
    for (const char* name :
         {"txtFilter", "lstFileList", "cmdAddFile", "cmdRestoreFile", "cmdRestore"}) {
        enable(name, controls.list);
    }
    if (controls.run) {
        enable("cmdShell", *controls.run);
    }
    for (const char* name : {"cmdChangePass", "cmdSetStorDir", "cmdSetExten", "chkSlowRun"}) {
        enable(name, controls.settings);
    }
    if (controls.tabs) {
        // The strip and what is on its first page but the commands: Encrypt.
        enable("tabControl", *controls.tabs);
        enable("chkEncrypt", *controls.tabs);
    }
    if (controls.list && ::GetActiveWindow() == handle_) {
        restoreFocus();
    }
}

void MainWindow::Form_Resize() {
    RECT client{};
    ::GetClientRect(handle_, &client);
    const UINT dpi = DpiOf(handle_);
    const bool sizeGiven = ::IsIconic(handle_) || ::IsZoomed(handle_);
    if (::IsIconic(handle_)) {
        return;  // nothing to lay out in a window that shows nothing
    }
    const int width = Unscaled(client.right, dpi), height = Unscaled(client.bottom, dpi);
    const main_form::Layout layout =
        main_form::LayOut(width, height, height, kFilterHeight, sizeGiven);
    if (layout.snapHeight || layout.snapWidth) {
        const SIZE frame = FrameFor(Scaled(layout.snapWidth.value_or(width), dpi),
                                    Scaled(layout.snapHeight.value_or(height), dpi), dpi);
        ::SetWindowPos(handle_, nullptr, 0, 0, frame.cx, frame.cy,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;  // the resize comes back here with the new size
    }
    arrange(layout);
}

void MainWindow::arrange(const main_form::Layout& layout) {
    const UINT dpi = DpiOf(handle_);
    const auto px = [dpi](int pixels) { return Scaled(pixels, dpi); };
    if (layout.listWidth) {
        listWidth_ = px(*layout.listWidth);
    }
    const int filterHeight = px(kFilterHeight);
    ::MoveWindow(control("txtFilter"), 0, 0, listWidth_, filterHeight, TRUE);
    ::MoveWindow(control("lstFileList"), 0, filterHeight, listWidth_, px(layout.listHeight), TRUE);
    const int stripLeft = px(layout.stripLeft);
    const int stripWidth = px(main_form::kStripWidth);
    const HWND tabs = control("tabControl");
    ::MoveWindow(tabs, stripLeft, 0, stripWidth, px(layout.stripHeight), TRUE);
    RECT display{0, 0, stripWidth, px(layout.stripHeight)};
    ::SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    for (const HWND page : pages_) {
        ::SetWindowPos(page, HWND_TOP, stripLeft + display.left, display.top,
                       display.right - display.left, display.bottom - display.top, 0);
    }
    for (const main_form::Control& spec : main_form::Controls()) {
        const main_form::Rect at = main_form::PageRect(spec);
        RECT rect{px(at.left), px(at.top), px(at.left + at.width), px(at.top + at.height)};
        const HWND window = control(spec.name);
        if (spec.kind == main_form::Kind::kCheckBox) {
            // As wide as its caption needs, centred where it has room to grow, and at least as
            // tall as the box.
            SIZE wanted{};
            ::SendMessageW(window, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&wanted));
            if (wanted.cx > rect.right - rect.left) {
                if (spec.centred) {
                    rect.left = (rect.left + rect.right - wanted.cx) / 2;
                }
                rect.right = rect.left + wanted.cx;
            }
            if (wanted.cy > rect.bottom - rect.top) {
                rect.top = (rect.top + rect.bottom - wanted.cy) / 2;
                rect.bottom = rect.top + wanted.cy;
            }
        }
        ::MoveWindow(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                     TRUE);
        if (spec.kind == main_form::Kind::kMinutes) {
            ::MoveWindow(control("spnIdleLockArrows"), rect.right, rect.top, px(kArrowsWidth),
                         rect.bottom - rect.top, TRUE);
        }
    }
}

// The keyboard goes back to the control that had it, or, when that one cannot take it now,
// to the list or the tabs. Disabled controls drop the keyboard, and the window only passes it
// on by itself when it is a dialog.
void MainWindow::restoreFocus() {
    const HWND focus = ::GetFocus();
    if (focus != nullptr && ::IsChild(handle_, focus) && ::IsWindowEnabled(focus)) {
        lastFocus_ = focus;
        return;
    }
    for (const HWND candidate : {lastFocus_, control("lstFileList"), control("tabControl")}) {
        if (candidate != nullptr && ::IsWindowEnabled(candidate) && ::IsWindowVisible(candidate)) {
            ::SetFocus(candidate);
            return;
        }
    }
}

void MainWindow::Form_GotFocus() {
    // While a command runs, the busy window is the one to look at.
    if (session_.gate().busyWithCommand()) {
        ::SetForegroundWindow(showBusyWindow().handle());
    }
}

void MainWindow::close() {
    if (handle_ != nullptr) {
        ::PostMessageW(handle_, WM_CLOSE, 0, 0);
    }
}

void MainWindow::tryClose() {
    // Ending in the middle of a command could cut a file short: the close waits for it.
    if (!session_.mayClose()) {
        ensureBusyWindow().showClosingNote();
        showBusyWindow();
        return;
    }
    session_.closing(currentPlace());
    busyWindow_.reset();
    MessageLoop::setInputWatcher({});
    MessageLoop::setKeyFilter({});
    idleTimer_.stop();
    const HWND window = std::exchange(handle_, nullptr);
    ForgetObject(window);
    ::DestroyWindow(window);
    ::PostQuitMessage(0);
}

bool MainWindow::filterKey(const MSG& message) {
    if (handle_ == nullptr || ::GetAncestor(message.hwnd, GA_ROOT) != handle_) {
        return false;
    }
    const HWND filter = control("txtFilter");
    if (message.message == WM_KEYDOWN) {
        // Ctrl+F reaches the filter box from anywhere in the window, Esc in it clears it.
        if (::GetKeyState(VK_CONTROL) < 0 && message.wParam == 'F' && ::IsWindowEnabled(filter)) {
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
            idleMinutesChanged();
            return true;
        }
    }
    // A tab's mnemonic shows its page. A control of the page shown that shares the letter
    // takes it first, and only the keyboard's focus (Alt+A reaches Restore All Files, then the
    // second tab), as the mnemonics two controls share go to each in turn.
    if (message.message == WM_SYSCHAR && enabled("tabControl")) {
        const auto mnemonicOf = [](std::string_view caption) {
            const size_t amp = caption.find('&');
            return amp != std::string_view::npos && amp + 1 < caption.size()
                       ? std::towlower(static_cast<wint_t>(caption[amp + 1]))
                       : wint_t{0};
        };
        const auto letter = std::towlower(static_cast<wint_t>(message.wParam));
        for (int page = 0; page < 2; ++page) {
            if (letter != mnemonicOf(main_form::kPageCaptions[page])) {
                continue;
            }
            for (const main_form::Control& spec : main_form::Controls()) {
                const HWND sharing = control(spec.name);
                if (static_cast<int>(spec.page) == currentPage() && spec.caption != nullptr &&
                    spec.kind != main_form::Kind::kHelpLabel &&
                    mnemonicOf(spec.caption) == letter && ::IsWindowEnabled(sharing) &&
                    ::GetFocus() != sharing) {
                    ::SetFocus(sharing);
                    return true;
                }
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
    if (!paths.empty() && session_.takesDrops() && enabled("cmdAddFile")) {
        session_.hideDropped(paths);
    }
}

void MainWindow::command(int id, int code) {
    if (id == kFilterId) {
        if (code == EN_CHANGE) {
            showList();
        }
        return;
    }
    const auto form = main_form::Controls();
    const size_t index = static_cast<size_t>(id - ControlId(0));
    if (id < ControlId(0) || index >= form.size()) {
        return;
    }
    const std::string_view name = form[index].name;
    if (name == "spnIdleLock") {
        if (code == EN_KILLFOCUS) {
            idleMinutesChanged();
        }
        return;
    }
    if (code != BN_CLICKED) {
        return;
    }
    static const std::pair<std::string_view, void (MainSession::*)()> kCommands[] = {
        {"cmdAddFile", &MainSession::addFiles},
        {"cmdRestoreFile", &MainSession::restoreSelected},
        {"cmdRestore", &MainSession::restoreAll},
        {"cmdShell", &MainSession::run},
        {"cmdChangePass", &MainSession::changePassword},
        {"cmdSetExten", &MainSession::setExtension},
        {"cmdSetStorDir", &MainSession::setStorageFolder},
    };
    for (const auto& [button, run] : kCommands) {
        if (name == button) {
            (session_.*run)();
            return;
        }
    }
    // A check box's handler runs on every change of its state.
    const bool checked =
        ::SendMessageW(control(std::string(name)), BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (name == "chkEncrypt") {
        state_.bolEncrypt = checked;
    } else if (name == "chkSlowRun") {
        state_.bolSlowRun = checked;
    }
}

LRESULT MainWindow::handleMessage(UINT message, WPARAM w, LPARAM l) {
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
                const auto* change = reinterpret_cast<const NMUPDOWN*>(l);
                const int minutes =
                    std::clamp(session_.preferences().idleLockMinutes() + change->iDelta, 0,
                               kMaxIdleLockMinutes);
                session_.setIdleLockMinutes(minutes);
                showIdleMinutes(session_.preferences().idleLockMinutes());
                return TRUE;  // the box shows the minutes; the arrows keep their own count
            }
            return 0;
        }
        case DM_GETDEFID:
            // Enter presses Run Selected File unless a button with the focus took it first.
            if (currentPage() == 0 && enabled("cmdShell") && enabled("tabControl")) {
                const auto* shell = main_form::Find("cmdShell");
                return MAKELRESULT(
                    ControlId(static_cast<size_t>(shell - main_form::Controls().data())),
                    DC_HASDEFID);
            }
            return 0;
        case WM_SIZE:
            Form_Resize();
            return 0;
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(l);
            const UINT dpi = DpiOf(handle_);
            limits->ptMinTrackSize.y = FrameFor(0, Scaled(main_form::kMinimumHeight, dpi), dpi).cy;
            return 0;
        }
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(l);
            makeFonts();
            ::SetWindowPos(handle_, nullptr, suggested->left, suggested->top,
                           suggested->right - suggested->left, suggested->bottom - suggested->top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_ACTIVATE:
            if (LOWORD(w) == WA_INACTIVE) {
                const HWND focus = ::GetFocus();
                lastFocus_ = ::IsChild(handle_, focus) ? focus : lastFocus_;
                return 0;
            }
            restoreFocus();
            Form_GotFocus();
            return 0;
        case WM_SETCURSOR:
            if (Win32UiServices::waitCursorShown()) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        case WM_CLOSE:
            tryClose();
            return 0;
        case kLater:
            retiredLockWindow_.reset();
            if (!later_.empty()) {
                const std::function<void()> then = std::move(later_.front());
                later_.pop_front();
                then();
            }
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(handle_, message, w, l);
}

LRESULT CALLBACK MainWindow::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = ObjectOf<MainWindow>(window, message, l);
    if (message == WM_NCCREATE) {
        self->handle_ = window;
    }
    // Until the controls are made, the window has nothing to lay out.
    if (self == nullptr || self->handle_ != window || self->controls_.empty()) {
        return ::DefWindowProcW(window, message, w, l);
    }
    return self->handleMessage(message, w, l);
}

// A page passes what its controls say on to the main window.
LRESULT CALLBACK MainWindow::pageProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = ObjectOf<MainWindow>(window, message, l);
    if (self != nullptr && self->handle_ != nullptr &&
        (message == WM_COMMAND || message == WM_NOTIFY)) {
        return self->handleMessage(message, w, l);
    }
    return ::DefWindowProcW(window, message, w, l);
}

LRESULT CALLBACK MainWindow::listProcedure(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                           DWORD_PTR data) {
    if (message == WM_DROPFILES) {
        // Answered first, so that the file manager is not kept waiting for the hide.
        reinterpret_cast<MainWindow*>(data)->filesDropped(reinterpret_cast<HDROP>(w));
        return 0;
    }
    return ::DefSubclassProc(window, message, w, l);
}

}  // namespace vantory::winui
