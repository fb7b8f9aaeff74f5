#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "main/change_password.h"
#include "main/main_window.h"
#include "main/wrapped_text.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"
#include "ui/qt_ui_services.h"

namespace vantory {
namespace {

// The controls the busy state turns off, apart from the run button and the tab strip.
const char* const kCommandControls[] = {"txtFilter",      "lstFileList", "cmdAddFile",
                                        "cmdRestoreFile", "cmdRestore",  "cmdChangePass",
                                        "cmdSetStorDir",  "cmdSetExten", "chkSlowRun"};

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(test::settleUser(dir, state));
        settingsFolder = state.strSystemDir;
    }
    void TearDown() override {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Saves `entries`, each with a stored file for the start check to keep, and opens the window.
    void open(const std::vector<CatalogueEntry>& entries = {}) {
        Catalogue catalogue;
        for (const auto& entry : entries) {
            const std::string stored = StoredPath(state, catalogue.size());
            test::writeFile(stored, entry.path);
            ASSERT_TRUE(platform::setAttributes(stored, platform::kStoredAttributes).ok());
            catalogue.append(entry);
        }
        ASSERT_TRUE(saveList(state, catalogue, ui).ok());
        state.intProgress = 0;
        window = std::make_unique<MainWindow>(state, ui);
        window->show();
        window->load();
        // The store check's busy window closes at its next tick.
        if (window->busyWindow() != nullptr) {
            window->busyWindow()->Timer1_Timer();
            flushEvents();
        }
    }

    template <typename T = QWidget>
    T* child(const char* name) const {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    bool enabled(const char* name) const { return child(name)->isEnabled(); }
    QStringList rows() const {
        QStringList texts;
        for (int i = 0; i < window->fileList()->count(); ++i) {
            texts << window->fileList()->item(i)->text();
        }
        return texts;
    }
    // Which of the window's controls can be used, and whether the busy window shows.
    std::vector<bool> controlStates() const {
        std::vector<bool> states;
        for (const char* name : kCommandControls) {
            states.push_back(enabled(name));
        }
        states.push_back(enabled("cmdShell"));
        states.push_back(enabled("tabControl"));
        states.push_back(enabled("chkEncrypt"));
        states.push_back(window->busyWindow() && window->busyWindow()->isVisible());
        return states;
    }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QListWidget* list = window->fileList();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          list->visualItemRect(list->item(row)).center());
    }
    static void flushEvents() {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    test::TempFolder dir;
    std::string settingsFolder;
    test::FakeUiServices ui;
    ProgramState state;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, showsEveryControlWithItsCaptionOnItsTab) {
    open();
    EXPECT_EQ(window->windowTitle(), "Corvantis Vantory v1.0");
    EXPECT_FALSE(window->windowIcon().isNull());

    QTabWidget* tabs = window->tabControl();
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), "&Manage Files");
    EXPECT_EQ(tabs->tabText(1), "&Access and Security Control");
    EXPECT_EQ(tabs->currentIndex(), 0);

    struct Expected {
        const char* name;
        int tab;
        QString text;
    };
    const QString shellHelp =
        "This allows you to temporarily run a file.  The file will be created in the storage "
        "folder under the name tempFile and whatever extension the file originally was.  When "
        "you are finished running the file you click the button again and it will delete the "
        "temporary file, hiding the file" +
        QString(82, ' ') +
        "NOTE:  The temporary file will not be deleted until you close the file!!!";
    const Expected controls[] = {
        {"cmdAddFile", 0, "&Hide File(s)"},
        {"cmdRestoreFile", 0, "Restore &Selected File(s)"},
        {"cmdRestore", 0, "Restore &All Files"},
        {"lblAddFile", 0, "Add a file from your computer to be hidden"},
        {"lblRestoreFile", 0, "Puts the selected file back in its orginal location"},
        {"lblRestore", 0, "Puts all the files back in their orginal location"},
        {"chkEncrypt", 0, "&Encrypt File(s) When Hiding Them"},
        {"cmdShell", 0, "&Run Selected File"},
        {"lblShell", 0, shellHelp},
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
    for (const Expected& expected : controls) {
        QWidget* control = child(expected.name);
        auto* button = qobject_cast<QAbstractButton*>(control);
        const QString text = button ? button->text() : qobject_cast<QLabel*>(control)->text();
        EXPECT_EQ(text, expected.text) << expected.name;
        EXPECT_TRUE(tabs->widget(expected.tab)->isAncestorOf(control)) << expected.name;
    }
    EXPECT_TRUE(child<QPushButton>("cmdShell")->isDefault());
}

TEST_F(MainWindowTest, noCaptionOrHelpTextIsCutOff) {
    state.strStorageDir = "/home/somebody/a-rather-long-folder-name/with/several/levels/";
    open();
    window->resize(MainWindow::kOpeningWidth, MainWindow::kMinimumHeight);
    for (int tab = 0; tab < 2; ++tab) {
        window->tabControl()->setCurrentIndex(tab);
        QWidget* page = window->tabControl()->widget(tab);
        for (QWidget* control : page->findChildren<QWidget*>()) {
            EXPECT_TRUE(page->rect().contains(control->geometry()))
                << control->objectName().toStdString() << " lies outside its page";
        }
        for (auto* label : page->findChildren<HelpLabel*>()) {
            EXPECT_TRUE(label->textFits())
                << label->objectName().toStdString() << " needs " << label->neededHeight();
        }
        for (auto* button : page->findChildren<WrappedButton*>()) {
            EXPECT_TRUE(button->textFits()) << button->objectName().toStdString();
        }
        for (auto* box : page->findChildren<QCheckBox*>()) {
            EXPECT_LE(box->sizeHint().width(), box->width()) << box->objectName().toStdString();
        }
    }
    // The run of spaces puts the note on its own line; double spaces between sentences stay.
    const QString shell = window->findChild<HelpLabel*>("lblShell")->displayedText();
    EXPECT_TRUE(shell.endsWith(QString(QChar::LineSeparator) +
                               "NOTE:  The temporary file"
                               " will not be deleted until you close the file!!!"));
    EXPECT_TRUE(shell.contains("run a file.  The file"));

    auto* bar = qobject_cast<WrappedTabBar*>(window->tabControl()->tabBar());
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->textFits(0));
    EXPECT_TRUE(bar->textFits(1));
    EXPECT_LE(bar->tabRect(1).right(), window->tabControl()->width());
}

TEST_F(MainWindowTest, loadShowsTheCatalogueInOrderAndStartsInSlowRun) {
    open({{"/home/u/b.txt", true},
          {"/home/u/a file.pdf", false},
          {"/home/u/\xc3\xa9t\xc3\xa9.jpg", true}});
    EXPECT_EQ(rows(), QStringList({"/home/u/b.txt", "/home/u/a file.pdf", "/home/u/été.jpg"}));
    ASSERT_EQ(window->catalogue().size(), 3u);
    EXPECT_TRUE(window->catalogue().at(0).sealed);
    EXPECT_FALSE(window->catalogue().at(1).sealed);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(window->currentPosition(), 0);
    EXPECT_EQ(window->selectedPositions(), (std::vector<size_t>{0}));
}

TEST_F(MainWindowTest, aListThatCannotBeReadIsReportedAndTheWindowClosesWritingNothing) {
    window = std::make_unique<MainWindow>(state, ui);  // no settings file written
    window->show();
    const std::string handed = dir / "handed over";
    test::writeFile(handed, "mine");
    window->hideHandedOver({handed});
    EXPECT_FALSE(window->load());
    flushEvents();
    EXPECT_EQ(test::readFile(handed), "mine");
    EXPECT_FALSE(window->isVisible());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find(SettingsPath(state)), std::string::npos);
    EXPECT_EQ(ui.messages[0].style, UiServices::kExclamation);
    EXPECT_FALSE(platform::pathExists(SettingsPath(state)));

    EXPECT_TRUE(window->load());  // the load step runs once
    EXPECT_EQ(ui.messages.size(), 1u);
}

// Markup in a path is shown as it is, in message boxes and in the folder label.
TEST_F(MainWindowTest, textsWithMarkupInThemAreShownAsTheyAre) {
    const std::string text = "Cannot use /home/<b>me</b>/&lt;x&gt;\r\nsecond line";
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                shown = box->text();
                format = box->textFormat();
                box->accept();
            }
        }
    });
    QtUiServices().messageBox(text, UiServices::kExclamation, "Title");
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown, QStringLiteral("Cannot use /home/<b>me</b>/&lt;x&gt;\nsecond line"));

    state.strStorageDir = "/home/<i>me</i>/";
    open();
    EXPECT_EQ(child<QLabel>("lblSetStore")->textFormat(), Qt::PlainText);
}

TEST_F(MainWindowTest, checkBoxesStartAsTheFlagsAndSetThem) {
    open();
    window->tabControl()->setCurrentIndex(1);
    for (auto [name, flag] :
         {std::pair{"chkEncrypt", &state.bolEncrypt}, {"chkSlowRun", &state.bolSlowRun}}) {
        auto* box = child<QCheckBox>(name);
        window->tabControl()->setCurrentIndex(name[3] == 'E' ? 0 : 1);
        const bool start = name[3] == 'S';
        for (const bool checked : {!start, start}) {
            EXPECT_EQ(box->isChecked(), !checked) << name;
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
            EXPECT_EQ(*flag, checked) << name;
        }
    }
}

TEST_F(MainWindowTest, selectionReadsAndSurvivesARefresh) {
    open({{"/a", false}, {"/b", false}, {"/c", false}, {"/d", false}});
    clickRow(1);
    clickRow(3, Qt::ControlModifier);
    EXPECT_EQ(window->selectedPositions(), (std::vector<size_t>{1, 3}));
    EXPECT_EQ(window->currentPosition(), 3);

    // Removing the last entry keeps the marks that still exist.
    window->catalogue().removeAt(3);
    window->refreshList();
    EXPECT_EQ(rows(), QStringList({"/a", "/b", "/c"}));
    EXPECT_EQ(window->selectedPositions(), (std::vector<size_t>{1}));
    EXPECT_EQ(window->currentPosition(), 2);

    window->setSelection({0, 2, 7});
    EXPECT_EQ(window->selectedPositions(), (std::vector<size_t>{0, 2}));
    EXPECT_EQ(window->currentPosition(), 0);
    window->catalogue().clear();
    window->refreshList();
    EXPECT_EQ(window->fileList()->count(), 0);
    EXPECT_EQ(window->currentPosition(), -1);
}

TEST_F(MainWindowTest, busyStateSwitchesControlsAndTheBusyWindow) {
    open({{"/a", false}});
    child("cmdAddFile")->setEnabled(false);
    child("tabControl")->setEnabled(false);
    window->OpRunning(false);  // leaving it without entering enables everything
    const std::vector<bool> idle = controlStates();
    std::vector<bool> expected(12, true);
    expected.push_back(false);
    EXPECT_EQ(idle, expected);

    window->OpRunning(true);
    EXPECT_TRUE(state.bolBusy);
    const std::vector<bool> busy = controlStates();
    expected.flip();
    EXPECT_EQ(busy, expected) << "chkEncrypt is out of reach behind the disabled strip";
    EXPECT_FALSE(child("chkEncrypt")->testAttribute(Qt::WA_ForceDisabled));
    BusyWindow* first = window->busyWindow();  // a second call changes nothing
    window->OpRunning(true);
    EXPECT_EQ(controlStates(), busy);
    EXPECT_EQ(window->busyWindow(), first);

    window->OpRunning(false);
    EXPECT_FALSE(state.bolBusy);
    EXPECT_EQ(controlStates(), idle);
    ASSERT_NE(window->busyWindow(), nullptr) << "hidden; it closes itself at its next tick";
    window->busyWindow()->Timer1_Timer();
    flushEvents();
    EXPECT_EQ(window->busyWindow(), nullptr);

    // The next busy state starts a fresh busy window.
    window->OpRunning(true);
    ASSERT_NE(window->busyWindow(), nullptr);
    EXPECT_EQ(window->busyWindow()->windowTitle(), "Program is busy...");
    window->OpRunning(false);
}

TEST_F(MainWindowTest, withATemporaryFileOpenOnlyRunAndTheTabsStayUsable) {
    open({{"/a", false}});
    state.bolTempFileOpen = true;
    window->OpRunning(true);
    std::vector<bool> expected(9, false);
    expected.insert(expected.end(), {true, true, true, false});
    EXPECT_EQ(controlStates(), expected);
    QTabBar* bar = window->tabControl()->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    EXPECT_EQ(window->tabControl()->currentIndex(), 1);
    QSignalSpy run(window->button("cmdShell"), &QAbstractButton::clicked);
    QTest::mouseClick(window->button("cmdShell"), Qt::LeftButton);
    EXPECT_EQ(run.count(), 1);

    state.bolTempFileOpen = false;
    window->OpRunning(false);
    expected.assign(12, true);
    expected.push_back(false);
    EXPECT_EQ(controlStates(), expected);
}

TEST_F(MainWindowTest, enterPressesRunUnlessAnotherButtonHasTheFocus) {
    open({{"/a", false}});
    QSignalSpy run(window->button("cmdShell"), &QAbstractButton::clicked);
    QSignalSpy hide(window->button("cmdAddFile"), &QAbstractButton::clicked);

    window->fileList()->setFocus();
    QTest::keyClick(window->fileList(), Qt::Key_Return);
    EXPECT_EQ(run.count(), 1);

    child("chkEncrypt")->setFocus();
    QTest::keyClick(child("chkEncrypt"), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(run.count(), 2);
    EXPECT_FALSE(state.bolEncrypt);

    window->button("cmdAddFile")->setFocus();
    QTest::keyClick(window->button("cmdAddFile"), Qt::Key_Return);
    EXPECT_EQ(hide.count(), 1);
    EXPECT_EQ(run.count(), 2);

    // Busy: nothing to press.
    window->OpRunning(true);
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_EQ(run.count(), 2);
    window->OpRunning(false);
}

TEST_F(MainWindowTest, resizeKeepsTheStripOnTheRightAndSnapsBack) {
    open();
    const int h = MainWindow::kMinimumHeight;
    EXPECT_EQ(window->size(), QSize(MainWindow::kOpeningWidth, MainWindow::kOpeningHeight));
    QListWidget* list = window->fileList();
    QTabWidget* strip = window->tabControl();
    QWidget* filter = window->filterBox();
    const int f = filter->height();  // the filter box above the list takes from its height
    ASSERT_GT(f, 0);
    auto settled = [&](QSize size) {
        return QTest::qWaitFor([&] { return window->size() == size; }, 2000);
    };

    window->resize(800, 500);
    ASSERT_TRUE(settled({800, 500}));
    EXPECT_EQ(strip->geometry(), QRect(800 - 289 - 10, 0, 289, 500));
    EXPECT_EQ(filter->geometry(), QRect(0, 0, 800 - 289 - 10, f));
    EXPECT_EQ(list->geometry(), QRect(0, f, 800 - 289 - 10, 500 - f));

    // Too low: back to the lowest height, list and strip following.
    window->resize(700, 120);
    ASSERT_TRUE(settled({700, h}));
    EXPECT_EQ(strip->geometry(), QRect(700 - 299, 0, 289, h));
    EXPECT_EQ(list->geometry(), QRect(0, f, 700 - 299, h - f));
    EXPECT_EQ(filter->width(), 700 - 299);

    // Narrower than the strip less its margin: back to the opening width.
    window->resize(200, 400);
    ASSERT_TRUE(settled({MainWindow::kOpeningWidth, 400}));
    EXPECT_EQ(strip->x(), MainWindow::kOpeningWidth - 299);
    EXPECT_EQ(list->width(), MainWindow::kOpeningWidth - 299);

    // Between that and the strip's width the strip slides off left; the list keeps its width.
    window->resize(290, 400);
    ASSERT_TRUE(settled({290, 400}));
    EXPECT_EQ(strip->x(), 290 - 299);
    EXPECT_EQ(list->width(), MainWindow::kOpeningWidth - 299);
    EXPECT_EQ(filter->width(), MainWindow::kOpeningWidth - 299);
    EXPECT_EQ(list->height(), 400 - f);
}

TEST_F(MainWindowTest, noCommandBuildsOnWorkLeftUnfinished) {
    // A record of a password change that cannot even be read.
    test::writeFile(PasswordChangeRecordPath(state), "not a record");
    test::writeFile(dir / "new.txt", "new");
    // Whether a command could be started when each message showed.
    std::vector<bool> commandsOpen;
    ui.onMessage = [&](const test::FakeUiServices::Message&) {
        commandsOpen.push_back(window->button("cmdAddFile")->isEnabled());
    };
    open({{dir / "a.txt", false}, {dir / "b.txt", false}});
    const std::string stored = StoredPath(state, 0);
    // The start says it cannot read the record, while no command can start yet.
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find(PasswordChangeRecordPath(state)), std::string::npos);
    EXPECT_EQ(commandsOpen, std::vector<bool>{false});

    for (const char* name : {"cmdAddFile", "cmdRestoreFile", "cmdRestore", "cmdShell",
                             "cmdChangePass", "cmdSetExten", "cmdSetStorDir"}) {
        SCOPED_TRACE(name);
        ui.messages.clear();
        commandsOpen.clear();
        ui.fileAnswers = {{dir / "new.txt"}};
        ui.inputAnswers = {"other", "other"};
        window->setSelection({0});
        window->button(name)->click();
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text.rfind("Vantory did nothing", 0), 0u) << ui.messages[0].text;
        EXPECT_NE(ui.messages[0].text.find(PasswordChangeRecordPath(state)), std::string::npos);
        EXPECT_EQ(ui.fileAnswers.size() + ui.inputAnswers.size(), 3u) << "nothing was asked";
        EXPECT_EQ(rows().size(), 2);
        EXPECT_EQ(test::readFile(stored), dir / "a.txt");
        EXPECT_FALSE(platform::pathExists(dir / "a.txt"));
        EXPECT_TRUE(platform::pathExists(dir / "new.txt"));
        EXPECT_FALSE(state.bolTempFileOpen);
        EXPECT_EQ(commandsOpen, std::vector<bool>{true}) << "the window is not left busy";
    }
}

TEST_F(MainWindowTest, closeWaitsForTheRunningCommand) {
    open();
    window->OpRunning(true);
    window->busyWindow()->close();  // the user may have closed it
    flushEvents();
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->closePending());
    // The busy window is back and says what is to happen.
    ASSERT_NE(window->busyWindow(), nullptr);
    EXPECT_TRUE(window->busyWindow()->isVisible());
    QLabel* note = window->busyWindow()->findChild<QLabel*>("lblClosing");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->text(), BusyWindow::kClosingNote);

    window->OpRunning(false);
    EXPECT_TRUE(window->isVisible()) << "not inside the command that is still returning";
    flushEvents();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->closePending());

    // With a temporary file open it happens at once, and every window closes.
    window->show();
    state.bolTempFileOpen = true;
    window->OpRunning(true);
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    state.bolTempFileOpen = false;
    window->OpRunning(false);
    window->show();
    window->OpRunning(true);
    window->OpRunning(false);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(window->busyWindow(), nullptr);
}

TEST_F(MainWindowTest, activatingTheWindowWhileBusyBringsTheBusyWindowForward) {
    open();
    window->OpRunning(true);
    QPointer<BusyWindow> closedByUser = window->busyWindow();
    ASSERT_FALSE(closedByUser.isNull());
    closedByUser->close();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return closedByUser.isNull() && window->busyWindow() != nullptr; }, 2000));
    EXPECT_TRUE(window->busyWindow()->isVisible());

    window->OpRunning(false);
    window->busyWindow()->Timer1_Timer();
    flushEvents();
    ASSERT_EQ(window->busyWindow(), nullptr);

    // With a temporary file open the main window keeps the focus.
    state.bolTempFileOpen = true;
    window->OpRunning(true);
    QApplication::setActiveWindow(nullptr);
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->isActiveWindow(); }, 2000));
    flushEvents();
    EXPECT_EQ(window->busyWindow(), nullptr);
    state.bolTempFileOpen = false;
    window->OpRunning(false);
}

}  // namespace
}  // namespace vantory
