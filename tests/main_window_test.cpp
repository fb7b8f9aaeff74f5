// The main window: its controls, the busy state, the filter above the list and the idle lock.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <thread>

#include "commands/change_password.h"
#include "commands/storage_lock.h"
#include "session/main_form.h"
#include "platform/fault_injection.h"
#include "store/open_copies.h"
#include "window/qt_ui_services.h"
#include "window/wrapped_text.h"
#include "window_fixture.h"

namespace vantory {
namespace {

using test::readFile;
using Names = std::vector<std::string>;
using Positions = std::vector<size_t>;
namespace fs = std::filesystem;

class MainWindowTest : public test::WindowTest {
  protected:
    // The window on entries home/<name>, each stored sealed with its name for content.
    void open(const Names& names = {}) {
        for (const std::string& name : names) {
            hide(name, name, true);
        }
        CommandTest::open();
    }
    std::string home(const std::string& name) const { return dir / ("home/" + name); }
    static void flush() {
        for (int i = 0; i < 4; ++i) {
            QCoreApplication::processEvents();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    template <typename T = QWidget>
    T* child(const char* name) const {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // The rows as shown, with the home folder written as "~/".
    Names rows() const {
        Names texts;
        for (int i = 0; i < window->fileList()->count(); ++i) {
            QString text = window->fileList()->item(i)->text();
            texts.push_back(text.replace(QString::fromStdString(home("")), "~/").toStdString());
        }
        return texts;
    }
    Names listed() const {
        Names names;
        for (const CatalogueEntry& entry : window->catalogue().entries()) {
            names.push_back(platform::baseName(entry.path));
        }
        return names;
    }
    // '+' for each control that can be used, '-' for the others; then 'B' while the busy
    // window shows: the command controls, then Run, the tab strip and Encrypt.
    std::string controlStates() const {
        std::string states;
        for (const char* name : {"txtFilter", "lstFileList", "cmdAddFile", "cmdRestoreFile",
                                 "cmdRestore", "cmdChangePass", "cmdSetStorDir", "cmdSetExten",
                                 "chkSlowRun", " ", "cmdShell", "tabControl", "chkEncrypt", " "}) {
            states += *name == ' ' ? ' ' : child(name)->isEnabled() ? '+' : '-';
        }
        return states + (window->busyWindow() && window->busyWindow()->isVisible() ? 'B' : '-');
    }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QListWidget* list = window->fileList();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          list->visualItemRect(list->item(row)).center());
    }
    void typePassword(const QString& password) {
        ASSERT_NE(window->lockWindow(), nullptr);
        auto* box = window->lockWindow()->findChild<QLineEdit*>("txtPassword");
        box->selectAll();
        QTest::keyClicks(box, password);
        QTest::keyClick(box, Qt::Key_Return);
        flush();
    }
};

TEST_F(MainWindowTest, showsEveryControlWithItsWholeCaptionOnItsTabAndItsSetting) {
    test::writeFile(PreferencesPath(state), "idle-lock-minutes=7\n");
    open();
    EXPECT_EQ(window->windowTitle(), "Corvantis Vantory v1.0");
    EXPECT_FALSE(window->windowIcon().isNull());
    QTabWidget* tabs = window->tabControl();
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0) + "|" + tabs->tabText(1),
              "&Manage Files|&Access and Security Control");
    EXPECT_EQ(tabs->currentIndex(), 0);
    // Alt+A, which Restore All Files and the second tab share, reaches one and then the other.
    for (QWidget* reached : {child("cmdRestore"), static_cast<QWidget*>(tabs->widget(1))}) {
        QTest::keyClick(window.get(), Qt::Key_A, Qt::AltModifier);
        EXPECT_TRUE(reached->isAncestorOf(window->focusWidget()) ||
                    reached == window->focusWidget())
            << reached->objectName().toStdString();
    }
    tabs->setCurrentIndex(0);

    const std::tuple<const char*, int, QString> controls[] = {
        {"cmdAddFile", 0, "&Hide File(s)"},
        {"cmdRestoreFile", 0, "Restore &Selected File(s)"},
        {"cmdRestore", 0, "Restore &All Files"},
        {"lblAddFile", 0, "Add a file from your computer to be hidden"},
        {"lblRestoreFile", 0, "Puts the selected file back in its orginal location"},
        {"lblRestore", 0, "Puts all the files back in their orginal location"},
        {"chkEncrypt", 0, "&Encrypt File(s) When Hiding Them"},
        {"cmdShell", 0, "&Run Selected File"},
        {"lblShell", 0,
         "This allows you to temporarily run a file.  The file will be created in the storage "
         "folder under the name tempFile and whatever extension the file originally was.  When "
         "you are finished running the file you click the button again and it will delete the "
         "temporary file, hiding the file" +
             QString(82, ' ') +
             "NOTE:  The temporary file will not be deleted until you close the file!!!"},
        {"cmdChangePass", 1, "Change &Password"},
        {"lblChangePass", 1,
         "This changes the password used  to access the program and to encrypt the files.  "
         "NOTE: This operation can take a long time, as it decrypts and then re-encrypts every "
         "file in the list"},
        {"cmdSetExten", 1, "Set Encrypted File &Extension"},
        {"lblSetExten", 1,
         "This changes the extension that the encrypted files are saved with.  If you are "
         "looking to hide your files, use something that does not attract attention, such as "
         "txt or dat   Current extension is dat"},
        {"cmdSetStorDir", 1, "Set Storage &Folder"},
        {"lblSetStore", 1,
         "This is the folder where the encrypted files are saved.  If you want to keep you "
         "files hidden, then place this someone where people do not usually look, such as "
         "c:\\windows\\system\\   Current directory is " +
             QString::fromStdString(dir / "store/")},
        {"lblSlowRun", 1,
         "If checked, the encryption and decryption process goes slower but uses less memory "
         "and processor time"},
        {"chkSlowRun", 1, "&Slow Run"},
    };
    for (const auto& [name, tab, text] : controls) {
        QWidget* control = child(name);
        auto* button = qobject_cast<QAbstractButton*>(control);
        EXPECT_EQ(button ? button->text() : qobject_cast<QLabel*>(control)->text(), text) << name;
        EXPECT_TRUE(tabs->widget(tab)->isAncestorOf(control)) << name;
    }
    EXPECT_TRUE(child<QPushButton>("cmdShell")->isDefault());

    // The check boxes start as their flags and set them.
    for (auto [name, flag, tab] :
         {std::tuple{"chkEncrypt", &state.bolEncrypt, 0}, {"chkSlowRun", &state.bolSlowRun, 1}}) {
        auto* box = child<QCheckBox>(name);
        tabs->setCurrentIndex(tab);
        for (const bool checked : {tab == 0, tab == 1}) {
            EXPECT_EQ(box->isChecked(), !checked) << name;
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
            EXPECT_EQ(*flag, checked) << name;
        }
    }
    // The idle minutes come from the program's own file and go back to it.
    auto* minutes = child<QSpinBox>("spnIdleLock");
    EXPECT_EQ(minutes->value(), 7);
    minutes->setValue(0);
    EXPECT_EQ(window->idleLockMilliseconds(), 0);
    EXPECT_EQ(readFile(PreferencesPath(state)), "idle-lock-minutes=0\n");

    // Markup in the storage folder shows as it is; nothing is cut off, even with a long one.
    state.strStorageDir = "/home/<i>me</i>/";
    window->refreshStorageLabel();
    EXPECT_EQ(child<QLabel>("lblSetStore")->textFormat(), Qt::PlainText);
    state.strStorageDir = "/home/somebody/a-rather-long-folder-name/with/several/levels/";
    window->refreshStorageLabel();
    Names cutOff;  // the controls outside their page or whose text does not fit
    for (int tab = 0; tab < 2; ++tab) {
        tabs->setCurrentIndex(tab);
        QWidget* page = tabs->widget(tab);
        for (QWidget* control : page->findChildren<QWidget*>()) {
            auto* label = qobject_cast<HelpLabel*>(control);
            auto* button = qobject_cast<WrappedButton*>(control);
            auto* box = qobject_cast<QCheckBox*>(control);
            if (!page->rect().contains(control->geometry()) || (label && !label->textFits()) ||
                (button && !button->textFits()) ||
                (box && box->sizeHint().width() > box->width())) {
                cutOff.push_back(control->objectName().toStdString());
            }
        }
    }
    EXPECT_EQ(cutOff, Names{});
    // The run of spaces puts the note on its own line; double spaces between sentences stay.
    const QString shell = child<HelpLabel>("lblShell")->displayedText();
    EXPECT_TRUE(shell.contains(QString(QChar::LineSeparator) + "NOTE:  The temporary file will"));
    EXPECT_TRUE(shell.contains("run a file.  The file"));
    auto* bar = qobject_cast<WrappedTabBar*>(tabs->tabBar());
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->textFits(0) && bar->textFits(1));
    EXPECT_LE(bar->tabRect(1).right(), tabs->width());
}

TEST_F(MainWindowTest, aListThatCannotBeReadIsReportedAndTheWindowClosesWritingNothing) {
    window = std::make_unique<MainWindow>(state, ui);  // no settings file written
    window->show();
    const std::string handed = dir / "handed over";
    test::writeFile(handed, "mine");
    window->hideHandedOver({handed});
    EXPECT_FALSE(window->load());
    flush();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(readFile(handed), "mine");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].style, UiServices::kExclamation);
    EXPECT_FALSE(platform::pathExists(SettingsPath(state)));
    EXPECT_TRUE(window->load());  // the load step runs once
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(MainWindowTest, messageBoxesShowMarkupAsItIs) {
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            format = box->textFormat();
            box->accept();
        }
    });
    QtUiServices().messageBox("Cannot use /home/<b>me</b>/&lt;x&gt;\r\nsecond line",
                              UiServices::kExclamation, "Title");
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown, QStringLiteral("Cannot use /home/<b>me</b>/&lt;x&gt;\nsecond line"));
}

// The list shows the catalogue in order, keeps the selection over a refresh, and the commands
// act on what is selected in the filtered list.
TEST_F(MainWindowTest, theFilteredListKeepsItsSelectionAndCommandsActOnIt) {
    open({"Report.pdf", "notes.txt", "old-report.odt", "\xc3\xa9t\xc3\xa9.jpg", "d"});
    EXPECT_EQ(rows(),
              (Names{"~/Report.pdf", "~/notes.txt", "~/old-report.odt", "~/été.jpg", "~/d"}));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(window->selectedPositions(), Positions{0}) << "the first row starts selected";
    clickRow(1);
    clickRow(4, Qt::ControlModifier);
    EXPECT_EQ(window->selectedPositions(), (Positions{1, 4}));
    EXPECT_EQ(window->currentPosition(), 4);
    // Removing the last entry keeps the marks that still exist.
    window->catalogue().removeAt(4);
    window->refreshList();
    EXPECT_EQ(rows(), (Names{"~/Report.pdf", "~/notes.txt", "~/old-report.odt", "~/été.jpg"}));
    EXPECT_EQ(window->selectedPositions(), Positions{1});
    EXPECT_EQ(window->currentPosition(), 3);

    window->fileList()->selectAll();
    QTest::keyClicks(window->filterBox(), "REPORT");
    EXPECT_EQ(rows(), (Names{"~/Report.pdf", "~/old-report.odt"}));
    EXPECT_EQ(window->selectedPositions(), (Positions{0, 2})) << "hidden rows leave it";
    clickRow(1);
    EXPECT_EQ(window->currentPosition(), 2);
    click("cmdRestoreFile");
    flush();
    EXPECT_EQ(readFile(home("old-report.odt")), "old-report.odt");
    EXPECT_EQ(listed(), (Names{"Report.pdf", "notes.txt", "été.jpg"}));
    EXPECT_EQ(rows(), Names{"~/Report.pdf"}) << "the filter is kept";

    // Run Selected File opens the entry of the row chosen, whose position is not its row.
    window->filterBox()->setText("\xc3\xa9t\xc3\xa9");
    window->selectFirst();
    click("cmdShell");
    EXPECT_EQ(readFile(dir / "store/tempFile.jpg"), "été.jpg");
    EXPECT_FALSE(window->filterBox()->isEnabled()) << "like the list, while the file is open";
    click("cmdShell");
    window->filterBox()->clear();
    EXPECT_EQ(rows(), (Names{"~/Report.pdf", "~/notes.txt", "~/été.jpg"}));
}

TEST_F(MainWindowTest, busyStateSwitchesControlsTheBusyWindowAndWhatEnterPresses) {
    open({"a"});
    child("cmdAddFile")->setEnabled(false);
    child("tabControl")->setEnabled(false);
    // Leaving the busy state without entering it enables everything; entering twice keeps one
    // busy window, which closes at its next tick once the state has ended; with a temporary
    // file open only Run and the tabs stay usable, and no busy window shows.
    struct Step {
        bool tempFileOpen, running;
        const char* controls;  // each control usable (+) or not (-), and the busy window (B)
    };
    const Step steps[] = {
        {.tempFileOpen = false, .running = false, .controls = "+++++++++ +++ -"},
        {.tempFileOpen = false, .running = true, .controls = "--------- --- B"},
        {.tempFileOpen = false, .running = true, .controls = "--------- --- B"},
        {.tempFileOpen = false, .running = false, .controls = "+++++++++ +++ -"},
        {.tempFileOpen = true, .running = true, .controls = "--------- +++ -"},
        {.tempFileOpen = true, .running = false, .controls = "+++++++++ +++ -"},
        {.tempFileOpen = false, .running = true, .controls = "--------- --- B"},
        {.tempFileOpen = false, .running = false, .controls = "+++++++++ +++ -"},
    };
    QPointer<BusyWindow> previous;
    for (const Step& step : steps) {
        const auto& [tempFileOpen, running, expected] = step;
        SCOPED_TRACE("step " + std::to_string(&step - steps));
        state.bolTempFileOpen = tempFileOpen;
        window->OpRunning(running);
        EXPECT_EQ(state.bolBusy, running);
        EXPECT_EQ(controlStates(), expected);
        EXPECT_TRUE(!running || !previous || window->busyWindow() == previous);
        previous = window->busyWindow();
        settle();
        EXPECT_EQ(window->busyWindow() != nullptr, running && !tempFileOpen);
    }

    // Enter presses Run unless another button has the focus.
    QSignalSpy run(window->button("cmdShell"), &QAbstractButton::clicked);
    QSignalSpy hide(window->button("cmdAddFile"), &QAbstractButton::clicked);
    // The control with the focus, the key, and the presses of Run and Hide after it.
    const std::tuple<QWidget*, Qt::Key, Qt::KeyboardModifiers, qsizetype, qsizetype> presses[] = {
        {window->fileList(), Qt::Key_Return, Qt::NoModifier, 1, 0},
        {child("chkEncrypt"), Qt::Key_Enter, Qt::KeypadModifier, 2, 0},
        {window->button("cmdAddFile"), Qt::Key_Return, Qt::NoModifier, 2, 1},
    };
    for (const auto& [focus, key, modifiers, runs, hides] : presses) {
        focus->setFocus();
        QTest::keyClick(focus, key, modifiers);
        EXPECT_EQ(std::pair(run.count(), hide.count()), std::pair(runs, hides))
            << focus->objectName().toStdString();
    }
    EXPECT_FALSE(state.bolEncrypt);
    window->OpRunning(true);  // busy: nothing to press
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_EQ(run.count(), 2);
    window->OpRunning(false);

    // A busy window the user closed comes back when the main window is activated or closed, and
    // the close waits for the running command; with a temporary file open neither waits.
    window->move(150, 100);
    state.fileBytes = {5, 9};  // of an earlier command
    window->OpRunning(true);
    EXPECT_EQ(state.fileBytes, FileBytes{});
    EXPECT_LE((window->busyWindow()->frameGeometry().center() - window->frameGeometry().center())
                  .manhattanLength(),
              20)
        << "over the middle of the main window";
    QPointer<BusyWindow> closedByUser = window->busyWindow();
    closedByUser->close();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return closedByUser.isNull() && window->busyWindow() != nullptr; }, 2000));
    EXPECT_TRUE(window->busyWindow()->isVisible());
    window->busyWindow()->close();
    flush();
    EXPECT_FALSE(window->close());
    ASSERT_NE(window->busyWindow(), nullptr);
    EXPECT_TRUE(window->isVisible() && window->busyWindow()->isVisible() &&
                window->busyWindow()->findChild<QLabel*>("lblClosing")->isVisible());
    window->OpRunning(false);
    EXPECT_TRUE(window->isVisible()) << "not inside the command that is still returning";
    flush();
    EXPECT_FALSE(window->isVisible() || window->closePending());
    settle();

    window->show();
    state.bolTempFileOpen = true;
    window->OpRunning(true);
    QApplication::setActiveWindow(nullptr);
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->isActiveWindow(); }, 2000));
    flush();
    EXPECT_EQ(window->busyWindow(), nullptr);
    EXPECT_TRUE(window->close() && !window->isVisible());
    state.bolTempFileOpen = false;
    window->OpRunning(false);
    window->show();
    window->OpRunning(true);
    window->OpRunning(false);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(window->busyWindow(), nullptr) << "every window closes with it";
}

TEST_F(MainWindowTest, resizeKeepsTheStripOnTheRightAndSnapsBack) {
    open();
    const int h = main_form::kMinimumHeight, w = main_form::kOpeningWidth;
    EXPECT_EQ(window->size(), QSize(w, main_form::kOpeningHeight));
    QWidget* filter = window->filterBox();
    const int f = filter->height();  // the filter box above the list takes from its height
    ASSERT_GT(f, 0);
    // Too low snaps back to the lowest height, narrower than the strip less its margin to the
    // opening width; between that and the strip's width the strip slides off left.
    for (auto [asked, settled, stripX, listWidth] :
         {std::tuple{QSize(800, 500), QSize(800, 500), 800 - 299, 800 - 299},
          {QSize(700, 120), QSize(700, h), 700 - 299, 700 - 299},
          {QSize(200, 400), QSize(w, 400), w - 299, w - 299},
          {QSize(290, 400), QSize(290, 400), 290 - 299, w - 299}}) {
        window->resize(asked);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == settled; }, 2000))
            << asked.width();
        EXPECT_EQ(window->tabControl()->geometry(), QRect(stripX, 0, 289, settled.height()));
        EXPECT_EQ(filter->geometry(), QRect(0, 0, listWidth, f));
        EXPECT_EQ(window->fileList()->geometry(), QRect(0, f, listWidth, settled.height() - f));
    }
    // Maximised, the list takes the room the window gives it.
    window->showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->width() > 700; }, 2000));
    const int wide = window->width(), high = window->height();
    EXPECT_TRUE(window->isMaximized());
    EXPECT_EQ(window->tabControl()->geometry(), QRect(wide - 299, 0, 289, high));
    EXPECT_EQ(window->fileList()->geometry(), QRect(0, f, wide - 299, high - f));
    const QSize screen = QGuiApplication::primaryScreen()->availableSize();
    const QPoint nowhere = MainWindow(state, ui).pos();  // where a window opens by itself

    // The window opens as it was left, where its title bar can be reached, at most as large
    // as the screen.
    window->showNormal();
    window->move(30, 40);
    window->resize(700, 450);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->width() == 700; }, 2000));
    window->close();
    EXPECT_TRUE(contains(readFile(PreferencesPath(state)), "\nwindow=30,40,700,450\n"));
    const std::tuple<const char*, QPoint, QSize, bool> opens[] = {
        {"window=30,40,700,450", QPoint(30, 40), QSize(700, 450), false},
        {"window=30,40,700,450,maximized", QPoint(30, 40), QSize(700, 450), true},
        {"window=-650,40,700,450", nowhere, QSize(700, 450), false},
        {"window=30,-9,700,450", nowhere, QSize(700, 450), false},
        {"window=30,5000,700,450", nowhere, QSize(700, 450), false},
        {"window=30,40,99999,450", QPoint(30, 40), QSize(screen.width(), 450), false},
    };
    for (const auto& [line, at, size, maximized] : opens) {
        SCOPED_TRACE(line);
        test::writeFile(PreferencesPath(state), std::string(line) + "\n");
        start();
        EXPECT_EQ(window->isMaximized(), maximized);
        const QRect normal = maximized ? window->normalGeometry() : window->geometry();
        EXPECT_EQ(normal.size(), size);
        EXPECT_EQ(maximized ? normal.topLeft() : window->pos(), at);
    }
}

TEST_F(MainWindowTest, noCommandBuildsOnWorkLeftUnfinished) {
    // A record of a password change that cannot even be read.
    const std::string record = PasswordChangeRecordPath(state);
    test::writeFile(record, "not a record");
    test::writeFile(dir / "new.txt", "new");
    // Each message with whether a command could be started when it showed.
    std::vector<std::string> shown;
    ui.onMessage = [&](const test::FakeUiServices::Message& message) {
        const bool open = window->button("cmdAddFile")->isEnabled();
        shown.push_back((open ? "open " : "busy ") + message.text.substr(0, 19) +
                        (contains(message.text, record) ? " record" : ""));
    };
    open({"a.txt", "b.txt"});
    // The start says it cannot read the record, while no command can start yet.
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].substr(0, 5) + shown[0].substr(shown[0].size() - 7), "busy  record");
    // Nor on a storage folder that another copy of Vantory has taken since the start.
    bool inUse = false;
    std::shared_ptr<platform::FolderLock> otherCopy;
    for (const std::string& said :
         {std::string("open Vantory did nothing record"),
          "open " + StorageInUseText(state.strStorageDir).substr(0, 19)}) {
        for (const char* name : {"cmdAddFile", "cmdRestoreFile", "cmdRestore", "cmdShell",
                                 "cmdChangePass", "cmdSetExten", "cmdSetStorDir"}) {
            shown.clear();
            ui.fileAnswers = {{dir / "new.txt"}};
            ui.inputAnswers = {"other", "other"};
            window->setSelection({0});
            window->button(name)->click();
            EXPECT_EQ(shown, Names{said}) << name;
            EXPECT_EQ(ui.fileAnswers.size() + ui.inputAnswers.size(), 3u) << name << " asked";
            EXPECT_EQ(rows(), (Names{"~/a.txt", "~/b.txt"})) << name;
            EXPECT_FALSE(platform::pathExists(home("a.txt")) || state.bolTempFileOpen) << name;
        }
        if (!otherCopy) {
            ASSERT_TRUE(platform::removeFile(record).ok());
            otherCopy = LockStorageFolder(state.strStorageDir, inUse);
        }
    }
}

TEST_F(MainWindowTest, commandsAndHandedOverListsEndBeforeTheLockFollows) {
    open({"a.txt", "b.txt"});
    test::writeFile(home("big.txt"), std::string(300, 'x'));
    window->button("chkEncrypt")->click();
    // The time comes while the file is sealed, then while the command shows its message.
    std::vector<bool> locked;
    ui.onYield = [&] {
        window->idleTimeElapsed();
        locked.push_back(window->locked() || !window->isVisible());
    };
    ui.onMessage = [&](const test::FakeUiServices::Message&) {
        window->idleTimeElapsed();
        locked.push_back(window->locked());
    };
    ui.fileAnswers = {{home("big.txt"), home("missing.txt")}};
    // Reading big.txt takes long enough for the window to be served while it is hidden.
    platform::setFaultHook([](platform::Operation op, std::string_view path, auto) {
        if (op == platform::Operation::kReadPiece && path.find("big.txt") != path.npos) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return 0;
    });
    click("cmdAddFile");
    platform::setFaultHook({});
    EXPECT_EQ(locked, (std::vector<bool>{false, false}));
    EXPECT_EQ(listed(), (Names{"a.txt", "b.txt", "big.txt"}));
    flush();
    EXPECT_TRUE(window->locked());
    ui.onMessage = nullptr;
    typePassword("secret");

    // Input while the busy state lasts means someone is there after all.
    for (const bool input : {false, true}) {
        window->OpRunning(true);
        window->idleTimeElapsed();
        if (input) {
            QTest::keyClick(window->busyWindow(), Qt::Key_Shift);
        }
        window->OpRunning(false);
        flush();
        EXPECT_EQ(window->locked(), !input);
        if (window->locked()) {
            typePassword("secret");
        }
    }

    // Lists handed over wait for the running command and the lock.
    window->button("chkEncrypt")->click();
    for (const char* name : {"new1.txt", "new2.txt", "new3.txt"}) {
        test::writeFile(home(name), name);
    }
    window->selectFirst();
    click("cmdShell");  // a file open for Run Selected File: a command still running
    window->hideHandedOver({home("new1.txt"), home("gone.txt"), home("new2.txt")});
    window->hideHandedOver({home("new2.txt")});
    flush();
    EXPECT_EQ(window->catalogue().size(), 3u);
    click("cmdShell");
    flush();
    // Two selections: the first stops at the missing file, the second comes after it.
    EXPECT_EQ(listed(), (Names{"a.txt", "b.txt", "big.txt", "new1.txt", "new2.txt"}));
    EXPECT_EQ(readFile(StoredPath(state, 4)), "new2.txt");

    // Locked, the window hides until the password in force now and then shows what it showed.
    window->filterBox()->setText("b.txt");
    window->setSelection({1});
    window->idleTimeElapsed();
    ASSERT_TRUE(window->locked());
    EXPECT_TRUE(!window->isVisible() && window->lockWindow()->isVisible());
    EXPECT_EQ(window->lockWindow()->windowTitle(), "Login");
    window->hideHandedOver({home("new3.txt")});
    flush();
    EXPECT_EQ(window->catalogue().size(), 5u);
    typePassword("kumquat");  // the factory password is not the one in force
    ASSERT_TRUE(window->locked());
    typePassword("secret");
    EXPECT_TRUE(!window->locked() && window->isVisible());
    EXPECT_EQ(window->filterBox()->text(), "b.txt");
    EXPECT_EQ(window->selectedPositions(), Positions{1});
    EXPECT_EQ(listed().back(), "new3.txt") << "hidden once unlocked";

    window->filterBox()->clear();
    window->selectFirst();
    // An open file does not hold the lock back; Cancel then closes every window at once.
    click("cmdShell");
    ASSERT_NE(window->busyWindow(), nullptr);
    window->idleTimeElapsed();
    ASSERT_TRUE(window->locked());
    QTest::mouseClick(window->lockWindow()->findChild<QAbstractButton*>("cmdCancel"),
                      Qt::LeftButton);
    flush();
    EXPECT_EQ(window->busyWindow(), nullptr) << "the window closed, and every window with it";
    EXPECT_EQ(readFile(dir / "store/tempFile.txt"), "a.txt");
}

// The buttons run the commands on the window's catalogue, with the window's busy state, and
// the list shows the outcome: one test per command.
class CommandWiringTest : public test::WindowTest {
  protected:
    QAbstractButton* shell() const { return window->button("cmdShell"); }
};

// Hide File(s) hides the dialog's files and the list shows them; files dropped on the list are
// hidden as one selection, never while a command runs.
TEST_F(CommandWiringTest, hideRunsFromTheDialogAndFromADrop) {
    hide("earlier", "earlier 0", false);
    open();
    const std::string picked = file("picked", "p");
    ui.fileAnswers = {{picked}};
    click("cmdAddFile");
    EXPECT_EQ(window->catalogue().entries(),
              (std::vector<CatalogueEntry>{entries[0], {picked, false}}));
    EXPECT_EQ(window->fileList()->count(), 2);
    expectIdle();

    const std::string a = file("a", "a");
    const std::string b = file("b", "b");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(pathToQString(a)), QUrl("https://example.org/x"),
                  QUrl::fromLocalFile(pathToQString(b))});
    QWidget* target = window->fileList()->viewport();
    const QPoint at = target->rect().center();
    const auto enter = [&] {
        QDragEnterEvent event(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(target, &event);
        return std::make_pair(event.isAccepted(), event.dropAction());
    };
    window->OpRunning(true);
    EXPECT_FALSE(enter().first) << "while a command runs the list takes nothing";
    window->OpRunning(false);
    settle();
    EXPECT_EQ(enter(), std::make_pair(true, Qt::CopyAction)) << "the file manager deletes nothing";
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &drop);
    EXPECT_TRUE(drop.isAccepted());
    settle();  // the hide runs once the drop has been answered
    settle();
    EXPECT_EQ(listedPaths(), (test::Texts{entries[0].path, picked, a, b}));
    EXPECT_EQ(saved(), window->catalogue().entries());
    EXPECT_EQ(window->fileList()->count(), 4);
    EXPECT_TRUE(ui.messages.empty());
    expectIdle();
}

// The load step runs the store check: the list shows what is left, and can be used, before the
// user is told; the first entry is then selected. Without entries there is no busy state.
TEST_F(CommandWiringTest, theLoadChecksTheStoreAndShowsTheListFirst) {
    for (const std::string name : {"a", "b", "c"}) {
        hide(name, name, false);
    }
    ASSERT_TRUE(platform::removeFile(StoredPath(state, 1)).ok());
    ui.onMessage = [this](const test::FakeUiServices::Message&) {
        EXPECT_FALSE(state.bolBusy);
        EXPECT_TRUE(window->fileList()->isEnabled());
        EXPECT_EQ(window->fileList()->count(), 2);
    };
    open();
    EXPECT_TRUE(contains(onlyMessage(), "was deleted from storage."));
    EXPECT_EQ(listedPaths(), (test::Texts{entries[0].path, entries[2].path}));
    EXPECT_EQ(window->selectedPositions(), (std::vector<size_t>{0}));
    EXPECT_EQ(window->currentPosition(), 0);
    expectIdle();

    entries.clear();
    ui.onMessage = nullptr;
    open();
    EXPECT_EQ(window->busyWindow(), nullptr) << "no busy state";
    EXPECT_EQ(window->currentPosition(), -1);
}

// Restore Selected File(s) acts on the list's current item and selection, and leaves the
// entries still hidden selected; Restore All empties the list.
TEST_F(CommandWiringTest, restoreActsOnTheSelectionAndShowsWhatIsLeft) {
    const std::string a = hide("a", "a", false);
    const std::string lost = hide("gone/deeper/b", "b", false);
    hide("c", "c", false);
    open();
    window->fileList()->clearSelection();
    window->fileList()->setCurrentRow(-1);
    ASSERT_TRUE(platform::removeFile(SettingsPath(state)).ok());
    click("cmdRestoreFile");  // no current item: nothing at all
    EXPECT_FALSE(platform::pathExists(SettingsPath(state)));
    window->fileList()->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    click("cmdRestoreFile");  // a current item, nothing selected: the list is written again
    EXPECT_EQ(saved(), entries);
    fs::remove_all(dir / "home/gone");
    test::writeFile(dir / "home/gone", "a file where its folder was");
    window->setSelection({0, 1});
    click("cmdRestoreFile");
    EXPECT_EQ(readFile(a), "a");
    EXPECT_EQ(listedPaths(), (test::Texts{lost, entries[2].path}));
    EXPECT_EQ(window->fileList()->count(), 2);
    EXPECT_EQ(window->selectedPositions(), (std::vector<size_t>{0}));
    expectIdle();
    fs::remove(dir / "home/gone");
    click("cmdRestore");  // its folders are made again
    EXPECT_EQ(readFile(lost), "b");
    EXPECT_EQ(window->fileList()->count(), 0);
    EXPECT_TRUE(window->selectedPositions().empty());
    expectIdle();
}

// Run Selected File opens the selected entry and gives its button the caption of the next
// step; while the file is open only that button and the tabs can be used, and no busy window
// shows. Enter presses the button; a press while the file is put back is ignored.
TEST_F(CommandWiringTest, runOpensTheSelectedEntryAndTheNextPressPutsItBack) {
    hide("other.doc", "another", false);
    hide("notes.txt", "dear diary", false);
    hide("sealed.pdf", "secret", true);
    open();
    window->runCommand().setWaitLimit(std::chrono::milliseconds(100));
    window->fileList()->clearSelection();
    click("cmdShell");  // nothing selected: nothing is opened
    EXPECT_TRUE(ui.openedWithApplication.empty());
    window->setSelection({1});
    click("cmdShell");
    const std::string tempFile = dir / "store/tempFile.txt";
    EXPECT_EQ(ui.openedWithApplication, std::vector<std::string>{tempFile});
    EXPECT_EQ(shell()->text(), "Delete Temporary File");
    EXPECT_TRUE(state.bolTempFileOpen);
    expectControls(true);
    EXPECT_FALSE(window->busyWindow() && window->busyWindow()->isVisible());

    bool pressedWhileDeleting = false;
    ui.onYield = [&] {
        pressedWhileDeleting = shell()->isEnabled() &&
                               shell()->text() == "Attempting to delete file..." &&
                               window->runCommand().deleting();
        QTest::mouseClick(shell(), Qt::LeftButton);
    };
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_TRUE(pressedWhileDeleting);
    EXPECT_EQ(readFile(StoredPath(state, 1)), "dear diary");
    EXPECT_EQ(shell()->text(), "Run Selected File");
    EXPECT_EQ(onlyMessage(), "Temporary file deleted");
    settle();
    expectIdle();

    // A file no application can be asked to open is put away at once, and stays hidden.
    ui.applicationOpens = false;
    for (const size_t position : {1, 2}) {
        SCOPED_TRACE(position);
        ui.messages.clear();
        window->setSelection({position});
        click("cmdShell");
        EXPECT_EQ(ui.openedWithApplication.size(), position + 1);
        EXPECT_TRUE(contains(onlyMessage(), "was not opened: no application could be started"));
        EXPECT_EQ(shell()->text(), "Run Selected File");
        EXPECT_EQ(readFile(StoredPath(state, 1)), "dear diary");
        EXPECT_EQ(storageFolder(),
                  (std::set<std::string>{".vantory.lock", "100.dat", "101.dat", "102.dat"}));
        bool readable = false;
        EXPECT_TRUE(ReadOpenCopies(state, readable).empty() && readable);
        settle();
        expectIdle();
    }
}

}  // namespace
}  // namespace vantory
