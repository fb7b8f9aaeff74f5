#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "store/settings_file.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "window/login_window.h"

namespace vantory {
namespace {

class LoginWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.useAsConfigHome();
        window = std::make_unique<LoginWindow>(state, ui);
        ASSERT_EQ(window->load(), StartOutcome::kFactorySettings);
        window->show();
        password = window->findChild<QLineEdit*>("txtPassword");
        password->setFocus();
    }
    void click(const char* name) {
        QTest::mouseClick(window->findChild<QPushButton*>(name), Qt::LeftButton);
    }

    test::TempFolder dir;
    test::FakeUiServices ui;
    ProgramState state;
    std::unique_ptr<LoginWindow> window;
    QLineEdit* password = nullptr;
};

TEST_F(LoginWindowTest, showsItsControlsTheFactoryCaptionOnceThenThePlainOne) {
    EXPECT_EQ(window->windowTitle(), "Default password = \"kumquat\"");
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(window->findChild<QLabel*>("lblLabels")->text(), "&Password:");
    EXPECT_EQ(window->findChild<QLabel*>("lblLabels")->buddy(), password);
    for (auto [name, text] :
         {std::pair{"cmdOK", "&OK"}, {"cmdCancel", "&Cancel"}, {"cmdHelp", "&Help"}}) {
        EXPECT_EQ(window->findChild<QPushButton*>(name)->text(), text);
    }
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(ui.messages.size(), 1u) << "the factory message, once";
    // Later starts: one while the first still works on the storage folder (the fake lets it
    // past the instance lock), a plain one, one while another copy runs, one on a damaged
    // settings file.
    struct Start {
        const char* name;
        bool other, damage;  // another copy runs; the settings file is damaged
        StartOutcome outcome;
        size_t messages;
    };
    const Start starts[] = {
        {"storage in use", false, false, StartOutcome::kStorageInUse, 1},
        {"plain", false, false, StartOutcome::kReady, 0},
        {"another copy", true, false, StartOutcome::kAnotherInstance, 0},
        {"damaged", false, true, StartOutcome::kSettingsUnusable, 1},
    };
    for (const auto& [name, anotherInstance, damage, outcome, messages] : starts) {
        SCOPED_TRACE(name);
        if (damage) {
            test::writeFile(SettingsPath(state), "damaged\r\n");
        }
        test::FakeUiServices other;
        other.anotherInstance = anotherInstance;
        ProgramState otherState;
        LoginWindow second(otherState, other);
        EXPECT_EQ(second.load(), outcome);
        EXPECT_EQ(other.messages.size(), messages);
        EXPECT_EQ(second.windowTitle(), "Login");
        state.storageLock.reset();  // the first copy has ended
    }
}

// A wrong password is refused and selected for retyping, then Enter logs in; Help explains the
// password, Cancel and Esc end the program.
TEST_F(LoginWindowTest, aWrongPasswordThenEnterLogsInHelpAndCancel) {
    QSignalSpy cancelled(window.get(), &LoginWindow::cancelled);
    QSignalSpy loggedIn(window.get(), &LoginWindow::loggedIn);
    QTest::keyClicks(password, "Kumquat");
    click("cmdOK");
    EXPECT_EQ(password->selectedText(), "Kumquat");
    EXPECT_TRUE(window->isVisible() && loggedIn.isEmpty());
    QTest::keyClicks(password, "kumquat");  // replaces the wrong entry
    QTest::keyClick(password, Qt::Key_Return);
    EXPECT_EQ(loggedIn.count(), 1);
    EXPECT_FALSE(window->isVisible());
    window->show();
    click("cmdHelp");
    click("cmdCancel");
    window->show();
    QTest::keyClicks(password, "typed");
    QTest::keyClick(password, Qt::Key_Escape);
    EXPECT_EQ(cancelled.count(), 2);
    std::vector<std::string> shown;  // after the factory message
    for (size_t i = 1; i < ui.messages.size(); ++i) {
        const auto& [text, style, title] = ui.messages[i];
        shown.push_back(title + " " + std::to_string(style) + " " + text);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "Login 0 Invalid Password, try again!",
                         "Password Help 48 If this is the first time Corvantis Vantory has been "
                         "run on this computer, the default password is \"kumquat\", which you "
                         "should change to ensure that your files are secure.\r\nOther than "
                         "that, you need to enter the password that you set in order to gain "
                         "access to the files."}))
        << "nothing else is asked";
}

}  // namespace
}  // namespace vantory
