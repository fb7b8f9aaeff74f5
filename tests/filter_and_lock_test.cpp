// The filter above the list, the idle lock, and files handed over from the command line.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <QTest>
#include <functional>

#include "main/main_window.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"

namespace vantory {
namespace {

using test::readFile;
using Names = std::vector<std::string>;

// Lets a test act once while a long command hands control to the window system.
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
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(test::settleUser(dir, state)); }
    void TearDown() override {
        window.reset();
        flush();
    }

    // The window on entries <dir>/home/<name>, each stored file holding its name.
    void open(const Names& names) {
        Catalogue catalogue;
        for (const std::string& name : names) {
            const std::string stored = StoredPath(state, catalogue.size());
            test::writeFile(stored, name);
            ASSERT_TRUE(platform::setAttributes(stored, platform::kStoredAttributes).ok());
            catalogue.append({home(name), false});
        }
        ASSERT_TRUE(platform::makeFolders(dir / "home").ok());
        ASSERT_TRUE(saveList(state, catalogue, ui).ok());
        window = std::make_unique<MainWindow>(state, ui);
        window->show();
        window->load();
        flush();
    }
    std::string home(const std::string& name) const { return dir / ("home/" + name); }
    static void flush() {
        for (int i = 0; i < 4; ++i) {
            QCoreApplication::processEvents();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    Names rows() const {
        Names names;
        for (int i = 0; i < window->fileList()->count(); ++i) {
            names.push_back(window->fileList()->item(i)->text().section('/', -1).toStdString());
        }
        return names;
    }
    Names listed() const {
        Names names;
        for (const CatalogueEntry& entry : window->catalogue().entries()) {
            names.push_back(platform::baseName(entry.path));
        }
        return names;
    }
    void click(const char* name) { QTest::mouseClick(window->button(name), Qt::LeftButton); }
    void typePassword(const QString& password) {
        ASSERT_NE(window->lockWindow(), nullptr);
        auto* box = window->lockWindow()->findChild<QLineEdit*>("txtPassword");
        box->selectAll();
        QTest::keyClicks(box, password);
        QTest::keyClick(box, Qt::Key_Return);
        flush();
    }

    test::TempFolder dir;
    YieldingUi ui;
    ProgramState state;
    std::unique_ptr<MainWindow> window;
};

TEST_F(FilterAndLockTest, commandsActOnWhatIsSelectedInTheFilteredList) {
    open({"Report.pdf", "notes.txt", "old-report.odt", "photo.jpg"});
    window->fileList()->selectAll();
    QTest::keyClicks(window->filterBox(), "REPORT");
    EXPECT_EQ(rows(), (Names{"Report.pdf", "old-report.odt"}));
    EXPECT_EQ(window->selectedPositions(), (std::vector<size_t>{0, 2})) << "hidden rows leave it";

    QListWidget* list = window->fileList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(window->currentPosition(), 2);
    click("cmdRestoreFile");
    flush();
    EXPECT_EQ(readFile(home("old-report.odt")), "old-report.odt");
    EXPECT_EQ(listed(), (Names{"Report.pdf", "notes.txt", "photo.jpg"}));
    EXPECT_EQ(rows(), Names{"Report.pdf"}) << "the filter is kept";

    // Run Selected File opens the entry of the row chosen, whose position is not its row.
    window->filterBox()->setText("photo");
    window->selectFirst();
    click("cmdShell");
    EXPECT_EQ(readFile(dir / "store/tempFile.jpg"), "photo.jpg");
    EXPECT_FALSE(window->filterBox()->isEnabled()) << "like the list, while the file is open";
    click("cmdShell");
    window->filterBox()->clear();
    EXPECT_EQ(rows(), (Names{"Report.pdf", "notes.txt", "photo.jpg"}));
}

TEST_F(FilterAndLockTest, theLockHidesTheWindowUntilTheRightPasswordAndHandedFilesWait) {
    open({"a.txt", "b.txt"});
    window->filterBox()->setText("b");
    window->setSelection({1});
    window->idleTimeElapsed();
    ASSERT_TRUE(window->locked());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->lockWindow()->isVisible());
    EXPECT_EQ(window->lockWindow()->windowTitle(), "Login");
    test::writeFile(home("new.txt"), "new");
    window->hideHandedOver({home("new.txt")});
    flush();
    EXPECT_EQ(window->catalogue().size(), 2u);

    typePassword("SECRET");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Invalid Password, try again!");
    EXPECT_EQ(ui.messages[0].title, "Login");
    EXPECT_EQ(window->lockWindow()->findChild<QLineEdit*>("txtPassword")->selectedText(), "SECRET");

    typePassword("secret");
    EXPECT_FALSE(window->locked());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->filterBox()->text(), "b");
    EXPECT_EQ(window->selectedPositions(), std::vector<size_t>{1});
    EXPECT_EQ(listed(), (Names{"a.txt", "b.txt", "new.txt"})) << "hidden once unlocked";
}

TEST_F(FilterAndLockTest, aCommandRunningWhenTheTimeComesEndsFirstThenTheLockFollows) {
    open({"a.txt"});
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
    click("cmdAddFile");
    EXPECT_EQ(locked, (std::vector<bool>{false, false}));
    EXPECT_EQ(listed(), (Names{"a.txt", "big.txt"}));
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
}

TEST_F(FilterAndLockTest, handedOverListsWaitForTheRunningCommandAndCancelAtTheLockCloses) {
    open({"a.txt"});
    for (const char* name : {"new1.txt", "new2.txt"}) {
        test::writeFile(home(name), name);
    }
    window->selectFirst();
    click("cmdShell");  // a file open for Run Selected File: a command still running
    window->hideHandedOver({home("new1.txt"), home("gone.txt"), home("new2.txt")});
    window->hideHandedOver({home("new2.txt")});
    flush();
    EXPECT_EQ(window->catalogue().size(), 1u);
    click("cmdShell");
    flush();
    // Two selections: the first stops at the missing file, the second comes after it.
    EXPECT_EQ(listed(), (Names{"a.txt", "new1.txt", "new2.txt"}));
    EXPECT_EQ(readFile(StoredPath(state, 2)), "new2.txt");

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

TEST_F(FilterAndLockTest, theIdleMinutesAreReadFromAndWrittenToTheProgramsOwnFile) {
    test::writeFile(PreferencesPath(state), "idle-lock-minutes=7\n");
    open({});
    auto* minutes = window->findChild<QSpinBox*>("spnIdleLock");
    EXPECT_EQ(minutes->value(), 7);
    minutes->setValue(0);
    EXPECT_EQ(window->idleLockMilliseconds(), 0);
    EXPECT_EQ(readFile(PreferencesPath(state)), "idle-lock-minutes=0\n");
}

}  // namespace
}  // namespace vantory
