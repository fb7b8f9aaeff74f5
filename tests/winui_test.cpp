// The Win32 windows, driven through their controls by window messages as the system would send
// them; under wine with its null graphics driver, windows are real but need no display.

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <shlobj.h>

#include <cstring>

#include "command_fixture.h"
#include "platform/fs_path.h"
#include "session/hand_over.h"
#include "store/preferences.h"
#include "winui/instance_pipe.h"
#include "winui/login_window.h"
#include "winui/main_window.h"
#include "winui/message_loop.h"
#include "winui/resource.h"
#include "winui/win_text.h"
#include "winui/win_ui_services.h"

namespace vantory::winui {
namespace {

using test::readFile;
using test::TempFolder;
using test::Texts;

// A UTF-8 literal as the program's byte strings hold it.
std::string Utf8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

// Lets the windows handle what was posted to them.
void settle() {
    for (int round = 0; round < 3; ++round) {
        MessageLoop::pump();
    }
}

void click(HWND button) {
    ::SendMessageW(button, BM_CLICK, 0, 0);
    settle();
}

std::vector<std::string> rows(HWND list) {
    std::vector<std::string> texts;
    const auto count = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        std::wstring text(static_cast<size_t>(::SendMessageW(list, LB_GETTEXTLEN, row, 0)) + 1,
                          L'\0');
        text.resize(static_cast<size_t>(
            ::SendMessageW(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text.data()))));
        texts.push_back(Narrow(text));
    }
    return texts;
}

// A drop of `paths` from a file manager, as WM_DROPFILES carries it.
HDROP dropOf(const std::vector<std::string>& paths) {
    std::wstring names;
    for (const std::string& path : paths) {
        names += Wide(path) + L'\0';
    }
    names += L'\0';
    const HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(drop + 1, names.data(), names.size() * sizeof(wchar_t));
    ::GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

class WinuiTest : public test::CommandTest {
  protected:
    void TearDown() override {
        window.reset();
        settle();
    }
    bool start() override {
        window = std::make_unique<MainWindow>(state, ui);
        window->show();
        const bool loaded = window->load();
        settle();
        return loaded;
    }
    HWND control(const char* name) const { return window->control(name); }
    bool enabled(const char* name) const { return ::IsWindowEnabled(control(name)) != 0; }

    std::unique_ptr<MainWindow> window;
};

// The password window: a wrong password is refused and the window stays, the right one logs
// in, Cancel ends; the first start names the factory password in the caption.
TEST_F(WinuiTest, passwordWindowLogsInRefusesAndCancels) {
    TempFolder fresh;
    fresh.useAsConfigHome();
    ProgramState first;
    LoginWindow login(first, ui);
    ASSERT_EQ(login.load(), StartOutcome::kFactorySettings);
    EXPECT_EQ(WindowText(login.handle()), kFactoryCaption);
    int loggedIn = 0, cancelled = 0;
    login.loggedIn = [&] { ++loggedIn; };
    login.cancelled = [&] { ++cancelled; };
    login.show();
    ui.messages.clear();

    SetWindowTextUtf8(login.control(IDC_PASSWORD), "kumquatx");
    click(login.control(IDOK));
    EXPECT_EQ(loggedIn, 0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].style, UiServices::kPlain);
    EXPECT_TRUE(::IsWindowVisible(login.handle()));

    SetWindowTextUtf8(login.control(IDC_PASSWORD), "kumquat");
    click(login.control(IDOK));
    EXPECT_EQ(loggedIn, 1);
    EXPECT_FALSE(::IsWindowVisible(login.handle()));

    login.show();
    click(login.control(IDCANCEL));
    EXPECT_EQ(cancelled, 1);
}

// The everyday cycle through the controls: a file (its name outside any ANSI code page) hidden
// through the file dialog and one dropped on the list, the filter, a restore of the selection.
TEST_F(WinuiTest, hidesFiltersAndRestoresThroughTheControls) {
    const std::string chosen = file(Utf8(u8"Grüße Ωμέγα 日本.txt"), "one");
    const std::string dropped = file("plans.txt", "two");
    open();
    const HWND list = control("lstFileList");
    EXPECT_EQ(WindowText(window->handle()), "Corvantis Vantory v1.0");

    ui.fileAnswers.push_back({chosen});
    click(control("cmdAddFile"));
    ::SendMessageW(list, WM_DROPFILES, reinterpret_cast<WPARAM>(dropOf({dropped})), 0);
    settle();
    EXPECT_EQ(rows(list), (Texts{chosen, dropped}));
    EXPECT_FALSE(std::filesystem::exists(platform::fsPath(chosen)));
    EXPECT_EQ(storedFile(0), "one");

    SetWindowTextUtf8(control("txtFilter"), Utf8(u8"ΩΜΈΓΑ"));
    settle();
    EXPECT_EQ(rows(list), Texts{chosen});
    ::SendMessageW(list, LB_SETSEL, TRUE, 0);
    click(control("cmdRestoreFile"));
    EXPECT_EQ(readFile(chosen), "one");
    EXPECT_TRUE(rows(list).empty());
    SetWindowTextUtf8(control("txtFilter"), "");
    settle();
    EXPECT_EQ(rows(list), Texts{dropped});
    expectIdle();
}

// The busy state: the controls a command leaves usable, the busy window's progress line at its
// tick, its close at the first tick after the end; a close asked for meanwhile waits for it.
TEST_F(WinuiTest, busyStateDisablesTheControlsAndShowsProgress) {
    open();
    ::SetFocus(control("cmdAddFile"));
    window->OpRunning(true);
    for (const char* name :
         {"lstFileList", "cmdAddFile", "cmdShell", "cmdChangePass", "tabControl"}) {
        EXPECT_FALSE(enabled(name)) << name;
    }
    BusyWindow* busy = window->busyWindow();
    ASSERT_NE(busy, nullptr);
    EXPECT_TRUE(::IsWindowVisible(busy->handle()));
    state.intProgress = 3;
    state.intProgressTotal = 5;
    busy->timer().fire();
    EXPECT_EQ(WindowText(busy->statusLine()), "2 files completed out of 5");
    EXPECT_EQ(WindowText(busy->handle()), "Program is busy.");

    ::SendMessageW(window->handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(window->closePending());
    window->OpRunning(false);
    EXPECT_EQ(::GetFocus(), control("cmdAddFile")) << "the keyboard is back where it was";
    window->OpRunning(true);
    EXPECT_FALSE(window->closed());

    window->OpRunning(false);
    busy->timer().fire();
    EXPECT_FALSE(busy->open());
    settle();
    EXPECT_TRUE(window->closed());
}

// Run Selected File's wait for its second press leaves its button and the tabs usable.
TEST_F(WinuiTest, anOpenFileLeavesRunAndTheTabsUsable) {
    open();
    state.bolTempFileOpen = true;
    window->OpRunning(true);
    EXPECT_TRUE(enabled("cmdShell"));
    EXPECT_TRUE(enabled("tabControl"));
    EXPECT_FALSE(enabled("cmdRestore"));
    EXPECT_EQ(window->busyWindow(), nullptr);
    window->OpRunning(false);
    state.bolTempFileOpen = false;
}

// Alt+A, which Restore All Files and the second tab share, reaches one and then the other.
TEST_F(WinuiTest, sharedMnemonicReachesTheButtonThenTheTab) {
    open();
    const MSG altA{control("lstFileList"), WM_SYSCHAR, 'a', 0, 0, {}};
    ASSERT_TRUE(window->filterKey(altA));
    EXPECT_EQ(::GetFocus(), control("cmdRestore"));
    EXPECT_EQ(window->currentPage(), 0);
    ASSERT_TRUE(window->filterKey(altA));
    EXPECT_EQ(window->currentPage(), 1);
    EXPECT_TRUE(::IsWindowVisible(control("cmdChangePass")));
}

// The idle minutes as typed in their box: kept in vantory.conf and in force at once; what is
// not a number goes back to the minutes in force.
TEST_F(WinuiTest, idleMinutesAreSetFromTheirBox) {
    open();
    struct Row {
        const char* typed;
        int minutes;
        const char* shown;
    };
    for (const Row& row : {Row{"15", 15, "15 min"}, Row{"Never", 0, "Never"},
                           Row{"soon", 0, "Never"}, Row{"7 min", 7, "7 min"}}) {
        window->setIdleMinutesText(row.typed);
        EXPECT_EQ(window->idleLockMilliseconds(), int64_t{row.minutes} * 60000) << row.typed;
        EXPECT_EQ(WindowText(control("spnIdleLock")), row.shown) << row.typed;
    }
    Preferences kept;
    EXPECT_EQ(ReadPreferences(PreferencesPath(state), kept), "");
    EXPECT_EQ(kept.idleLockMinutes, 7);
}

// Left alone, the window locks behind the password window; the right password opens it again.
TEST_F(WinuiTest, lockedWindowOpensAgainWithThePassword) {
    open();
    window->idleTimeElapsed();
    ASSERT_TRUE(window->locked());
    EXPECT_FALSE(::IsWindowVisible(window->handle()));
    LoginWindow* login = window->lockWindow();
    SetWindowTextUtf8(login->control(IDC_PASSWORD), "secret");
    click(login->control(IDOK));
    EXPECT_FALSE(window->locked());
    EXPECT_TRUE(::IsWindowVisible(window->handle()));
}

// What the input box is told to answer, and the prompt it showed.
std::optional<std::wstring> typed;
std::wstring prompted;

// Answers the input box once it shows, from the timer of its modal loop.
void CALLBACK AnswerInputBox(HWND, UINT, UINT_PTR timer, DWORD) {
    const HWND box = ::FindWindowW(nullptr, L"New extension");
    if (box == nullptr || !::IsWindowVisible(box)) {
        return;  // not shown yet: the timer comes again
    }
    ::KillTimer(nullptr, timer);
    prompted = Wide(WindowText(::GetDlgItem(box, IDC_PROMPT)));
    if (typed) {
        ::SetDlgItemTextW(box, IDC_ANSWER, typed->c_str());
    }
    ::SendMessageW(box, WM_COMMAND, typed ? IDOK : IDCANCEL, 0);
}

// The input box is the resource script's dialog: its prompt and title as asked, the answer
// typed, and Cancel never taken for an empty answer. The file dialog's answer becomes full paths.
TEST(Win32UiServicesTest, inputBoxAndFileDialogAnswers) {
    Win32UiServices ui;
    for (const std::optional<std::wstring>& row :
         {std::optional<std::wstring>(L"dat"), std::optional<std::wstring>(L""),
          std::optional<std::wstring>()}) {
        typed = row;
        ::SetTimer(nullptr, 0, 10, AnswerInputBox);
        const std::optional<std::string> given = ui.inputBox("Enter it:", "New extension");
        EXPECT_EQ(prompted, L"Enter it:");
        EXPECT_EQ(given.has_value(), row.has_value());
        if (row) {
            EXPECT_EQ(Wide(given.value_or("?")), *row);
        }
    }
    EXPECT_EQ(ChosenPaths(std::wstring(L"C:\\a\\b.txt\0\0", 12), true), Texts{"C:\\a\\b.txt"});
    EXPECT_EQ(ChosenPaths(std::wstring(L"C:\\a\0b.txt\0c d.txt\0\0", 20), true),
              (Texts{"C:\\a\\b.txt", "C:\\a\\c d.txt"}));
}

// A later start's files reach the running copy through its pipe, once the start hears that
// the whole list came; a message of anything else is taken by no one.
TEST(InstancePipeTest, handsOverWholeListsOnly) {
    const std::wstring name =
        L"\\\\.\\pipe\\vantory-test-" + std::to_wstring(::GetCurrentProcessId());
    InstancePipeServer server;
    std::string error;
    ASSERT_TRUE(server.listen(name, error)) << error;
    InstancePipeServer second;
    EXPECT_FALSE(second.listen(name, error)) << "the first instance owns the name";

    std::vector<std::vector<std::string>> received;
    server.setReceiver([&](const std::vector<std::string>& paths) { received.push_back(paths); });
    const std::vector<std::string> paths = {Utf8(u8"C:\\Grüße\\a.txt"), "C:\\b.txt"};
    ASSERT_TRUE(HandOverToRunningCopy(name, paths, error)) << error;

    ::WaitNamedPipeW(name.c_str(), 5000);  // the server takes one start at a time
    const HANDLE other = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    const std::string junk(HandOver::kHeaderSize, 'x');
    ::WriteFile(other, junk.data(), static_cast<DWORD>(junk.size()), &written, nullptr);
    ::CloseHandle(other);
    for (int round = 0; round < 50 && received.empty(); ++round) {
        ::Sleep(10);
        settle();
    }
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], paths);
}

}  // namespace
}  // namespace vantory::winui

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                                                       ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
