// The filter above the list, the lock after idle time, and files handed to the window from
// the command line.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <functional>

#include "main/main_window.h"
#include "store/preferences.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"

namespace vantory {
namespace {

using test::readFile;

// Lets a test act while a long command hands control to the window system.
class YieldingUi : public test::FakeUiServices {
  public:
    std::function<void()> onYield;
    void yield() override {
        FakeUiServices::yield();
        if (auto action = std::exchange(onYield, nullptr)) {
            action();
        }
    }
};

class FilterAndLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(test::settleUser(dir, state));
        ASSERT_TRUE(platform::makeFolder(dir / "home").ok());
    }
    void TearDown() override {
        window.reset();
        flush();
    }

    // Hides files of `names` plainly into storage: each stored file holds its name.
    void open(const std::vector<std::string>& names, bool keepMessages = false) {
        Catalogue catalogue;
        for (const std::string& name : names) {
            const std::string stored = StoredPath(state, catalogue.size());
            test::writeFile(stored, name);
            ASSERT_TRUE(platform::setAttributes(stored, platform::kStoredAttributes).ok());
            catalogue.append({home(name), false});
        }
        ASSERT_TRUE(saveList(state, catalogue, ui).ok());
        window = std::make_unique<MainWindow>(state, ui);
        window->show();
        window->load();
        flush();
        if (!keepMessages) {
            ui.messages.clear();
        }
    }
    std::string home(const std::string& name) const { return dir / ("home/" + name); }
    // Lets the window finish what it does once a command has returned.
    static void flush() {
        for (int i = 0; i < 4; ++i) {
            QCoreApplication::processEvents();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QStringList rows() const {
        QStringList texts;
        for (int i = 0; i < window->fileList()->count(); ++i) {
            texts << window->fileList()->item(i)->text().section('/', -1);
        }
        return texts;
    }
    std::vector<std::string> listed() const {
        std::vector<std::string> paths;
        for (const CatalogueEntry& entry : window->catalogue().entries()) {
            paths.push_back(entry.path.substr(entry.path.rfind('/') + 1));
        }
        return paths;
    }
    void clickRow(int row) {
        QListWidget* list = window->fileList();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }
    void click(const char* name) { QTest::mouseClick(window->button(name), Qt::LeftButton); }
    // Types into the password window of the lock and presses OK.
    void typePassword(const QString& password) {
        LoginWindow* lock = window->lockWindow();
        ASSERT_NE(lock, nullptr);
        auto* box = lock->findChild<QLineEdit*>("txtPassword");
        box->selectAll();
        QTest::keyClicks(box, password);
        QTest::mouseClick(lock->findChild<QAbstractButton*>("cmdOK"), Qt::LeftButton);
        flush();
    }

    test::TempFolder dir;
    YieldingUi ui;
    ProgramState state;
    std::unique_ptr<MainWindow> window;
};

TEST_F(FilterAndLockTest, commandsActOnWhatIsSelectedInTheFilteredList) {
    open({"Report.pdf", "notes.txt", "old-report.odt", "photo.jpg", "todo.txt"});
    window->fileList()->selectAll();
    QTest::keyClicks(window->filterBox(), "REPORT");
    EXPECT_EQ(rows(), QStringList({"Report.pdf", "old-report.odt"}));
    // Rows that the filter hides leave the selection.
    EXPECT_EQ(window->selectedPositions(), (std::vector<size_t>{0, 2}));

    clickRow(1);
    EXPECT_EQ(window->selectedPositions(), std::vector<size_t>{2});
    EXPECT_EQ(window->currentPosition(), 2);
    click("cmdRestoreFile");
    flush();
    EXPECT_EQ(readFile(home("old-report.odt")), "old-report.odt");
    EXPECT_EQ(listed(),
              (std::vector<std::string>{"Report.pdf", "notes.txt", "photo.jpg", "todo.txt"}));
    EXPECT_EQ(window->filterBox()->text(), "REPORT") << "kept across the refresh";
    EXPECT_EQ(rows(), QStringList({"Report.pdf"}));

    // Select all takes only the rows shown.
    window->filterBox()->setText(".txt");
    window->fileList()->setFocus();
    QTest::keyClick(window->fileList(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(window->selectedPositions(), (std::vector<size_t>{1, 3}));
    click("cmdRestoreFile");
    flush();
    EXPECT_EQ(listed(), (std::vector<std::string>{"Report.pdf", "photo.jpg"}));
    EXPECT_TRUE(platform::isRegularFile(home("notes.txt")));
    EXPECT_TRUE(platform::isRegularFile(home("todo.txt")));
    EXPECT_EQ(window->fileList()->count(), 0);

    // Run Selected File opens the entry of the row chosen, whose position is not its row.
    window->filterBox()->setText("photo");
    clickRow(0);
    click("cmdShell");
    EXPECT_EQ(ui.openedWithApplication, std::vector<std::string>{dir / "store/tempFile.jpg"});
    EXPECT_EQ(readFile(dir / "store/tempFile.jpg"), "photo.jpg");
    EXPECT_FALSE(window->filterBox()->isEnabled()) << "like the list, in the waiting state";
    click("cmdShell");
    EXPECT_TRUE(window->filterBox()->isEnabled());

    // Esc in the box clears it, and every entry shows again.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->filterBox()->setFocus();
    QTest::keyClick(window->filterBox(), Qt::Key_Escape);
    EXPECT_EQ(rows(), QStringList({"Report.pdf", "photo.jpg"}));
}

TEST_F(FilterAndLockTest, theLockHidesTheWindowAndOnlyTheRightPasswordBringsItBack) {
    open({"a.txt", "b.txt", "c.txt"});
    window->tabControl()->setCurrentIndex(1);
    window->filterBox()->setText("b");
    window->setSelection({1});

    window->idleTimeElapsed();
    ASSERT_TRUE(window->locked());
    EXPECT_FALSE(window->isVisible());
    LoginWindow* lock = window->lockWindow();
    EXPECT_TRUE(lock->isVisible());
    EXPECT_EQ(lock->windowTitle(), "Login");
    // Files handed over wait for the password.
    test::writeFile(home("new.txt"), "new");
    window->hideHandedOver({home("new.txt")});
    flush();
    EXPECT_EQ(window->catalogue().size(), 3u);

    typePassword("SECRET");
    ASSERT_TRUE(window->locked());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Invalid Password, try again!");
    EXPECT_EQ(ui.messages[0].style, UiServices::kPlain);
    EXPECT_EQ(ui.messages[0].title, "Login");
    auto* box = lock->findChild<QLineEdit*>("txtPassword");
    EXPECT_EQ(box->selectedText(), "SECRET");
    EXPECT_TRUE(box->hasFocus());

    typePassword("secret");
    EXPECT_FALSE(window->locked());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->tabControl()->currentIndex(), 1);
    EXPECT_EQ(window->filterBox()->text(), "b");
    EXPECT_EQ(window->selectedPositions(), std::vector<size_t>{1});
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(window->catalogue().size(), 4u) << "the handed-over file is hidden now";
    EXPECT_EQ(readFile(StoredPath(state, 3)), "new");
}

TEST_F(FilterAndLockTest, aCommandRunningWhenTheTimeComesEndsFirstThenTheLockFollows) {
    open({"a.txt"});
    test::writeFile(home("big.txt"), std::string(300, 'x'));
    window->button("chkEncrypt")->click();
    bool lockedDuringTheCommand = true;
    ui.onYield = [&] {
        window->idleTimeElapsed();  // the time comes while the file is being sealed
        lockedDuringTheCommand = window->locked() || !window->isVisible();
    };
    ui.fileAnswers = {{home("big.txt")}};
    click("cmdAddFile");
    EXPECT_FALSE(lockedDuringTheCommand);
    EXPECT_EQ(window->catalogue().size(), 2u) << "the hide ran to its end";
    EXPECT_TRUE(window->isVisible());
    flush();
    EXPECT_TRUE(window->locked());
    typePassword("secret");

    // A message the command shows after its busy state has ended is still part of it.
    bool lockedAtTheMessage = true;
    ui.onMessage = [&](const test::FakeUiServices::Message&) {
        window->idleTimeElapsed();
        lockedAtTheMessage = window->locked();
    };
    ui.fileAnswers = {{home("missing.txt")}};
    click("cmdAddFile");
    ui.onMessage = nullptr;
    EXPECT_FALSE(lockedAtTheMessage);
    flush();
    EXPECT_TRUE(window->locked());
    typePassword("secret");

    // The busy state too; and input in the meantime means someone is there after all.
    window->OpRunning(true);
    window->idleTimeElapsed();
    window->OpRunning(false);
    flush();
    EXPECT_TRUE(window->locked());
    typePassword("secret");
    window->OpRunning(true);
    window->idleTimeElapsed();
    QTest::keyClick(window->busyWindow(), Qt::Key_Shift);
    window->OpRunning(false);
    flush();
    EXPECT_FALSE(window->locked());
}

TEST_F(FilterAndLockTest, cancelAtTheLockEndsTheProgramByTheRulesOfClosingTheWindow) {
    open({"a.txt"});
    window->setSelection({0});
    click("cmdShell");  // a file open for Run Selected File: the program may end at once
    ASSERT_TRUE(state.bolTempFileOpen);
    ASSERT_NE(window->busyWindow(), nullptr);
    window->idleTimeElapsed();
    ASSERT_TRUE(window->locked()) << "the waiting state does not hold the lock back";
    QTest::mouseClick(window->lockWindow()->findChild<QAbstractButton*>("cmdCancel"),
                      Qt::LeftButton);
    flush();
    EXPECT_FALSE(window->lockWindow() && window->lockWindow()->isVisible());
    EXPECT_EQ(window->busyWindow(), nullptr) << "the window closed, and every window with it";
    // The file stays open under its temporary name; the next start puts it away.
    EXPECT_EQ(readFile(dir / "store/tempFile.txt"), "a.txt");
    EXPECT_TRUE(state.bolTempFileOpen);
}

TEST_F(FilterAndLockTest, handedOverFilesWaitUntilNoCommandRunsThenEachListIsHidden) {
    open({"a.txt"});
    for (const char* name : {"new1.txt", "new2.txt", "new3.txt"}) {
        test::writeFile(home(name), name);
    }
    window->OpRunning(true);
    window->hideHandedOver({home("new1.txt")});
    flush();
    EXPECT_EQ(window->catalogue().size(), 1u) << "never while another command runs";
    window->OpRunning(false);
    flush();
    EXPECT_EQ(listed(), (std::vector<std::string>{"a.txt", "new1.txt"}));

    // The waiting state of Run Selected File is a command still running.
    window->setSelection({0});
    click("cmdShell");
    window->hideHandedOver({home("new2.txt"), home("gone.txt"), home("new3.txt")});
    window->hideHandedOver({home("new3.txt")});
    flush();
    EXPECT_EQ(window->catalogue().size(), 2u);
    click("cmdShell");
    flush();
    flush();
    // Two selections: the first stops at the missing file, the second is hidden after it.
    EXPECT_EQ(listed(), (std::vector<std::string>{"a.txt", "new1.txt", "new2.txt", "new3.txt"}));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].text, "Temporary file deleted");
    EXPECT_NE(ui.messages[1].text.find(home("gone.txt")), std::string::npos);
    EXPECT_EQ(readFile(StoredPath(state, 3)), "new3.txt");
}

TEST_F(FilterAndLockTest, theIdleTimeIsSetOnTheSettingsTabAndKeptInTheProgramsOwnFile) {
    test::writeFile(PreferencesPath(state), "idle-lock-minutes=7\n");
    ::unsetenv("VANTORY_IDLE_LOCK_SECONDS");
    open({});
    auto* minutes = window->findChild<QSpinBox*>("spnIdleLock");
    ASSERT_NE(minutes, nullptr);
    EXPECT_EQ(minutes->value(), 7);
    EXPECT_EQ(window->idleLockMilliseconds(), 7 * 60 * 1000);

    minutes->setValue(0);
    EXPECT_EQ(window->idleLockMilliseconds(), 0);
    EXPECT_EQ(readFile(PreferencesPath(state)), "idle-lock-minutes=0\n");
    EXPECT_EQ(minutes->text(), "Never");

    ::setenv("VANTORY_IDLE_LOCK_SECONDS", "3", 1);
    EXPECT_EQ(window->idleLockMilliseconds(), 3000);
    ::unsetenv("VANTORY_IDLE_LOCK_SECONDS");

    // A value the file cannot hold is told, and the default applies.
    window.reset();
    test::writeFile(PreferencesPath(state), "idle-lock-minutes=many\n");
    open({}, true);
    EXPECT_EQ(window->findChild<QSpinBox*>("spnIdleLock")->value(), kDefaultIdleLockMinutes);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find(PreferencesPath(state)), std::string::npos);
}

}  // namespace
}  // namespace vantory
