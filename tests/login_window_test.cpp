#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "access/login_window.h"
#include "store/settings_file.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

class LoginWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.useAsConfigHome();
        window = std::make_unique<LoginWindow>(state, ui);
        ASSERT_TRUE(window->load());
        window->show();
        password = window->findChild<QLineEdit*>("txtPassword");
        ASSERT_NE(password, nullptr);
    }

    template <typename T = QPushButton>
    T* child(const char* name) {
        return window->findChild<T*>(name);
    }

    void type(const QString& text) {
        password->setFocus();
        QTest::keyClicks(password, text);
    }

    test::TempFolder dir;
    test::FakeUiServices ui;
    ProgramState state;
    std::unique_ptr<LoginWindow> window;
    QLineEdit* password = nullptr;
};

TEST_F(LoginWindowTest, showsItsControlsAndTheFactoryCaption) {
    EXPECT_EQ(window->windowTitle(), "Default password = \"kumquat\"");
    EXPECT_EQ(child<QLabel>("lblLabels")->text(), "&Password:");
    EXPECT_EQ(child<QLabel>("lblLabels")->buddy(), password);
    EXPECT_EQ(child("cmdOK")->text(), "&OK");
    EXPECT_EQ(child("cmdCancel")->text(), "&Cancel");
    EXPECT_EQ(child("cmdHelp")->text(), "&Help");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(ui.messages.size(), 1u) << "the factory message, once";

    // A second start shows the plain caption and no message.
    test::FakeUiServices quiet;
    ProgramState again;
    LoginWindow second(again, quiet);
    ASSERT_TRUE(second.load());
    EXPECT_EQ(second.windowTitle(), "Login");
    EXPECT_TRUE(quiet.messages.empty());
}

TEST_F(LoginWindowTest, rightPasswordWithEnterLogsIn) {
    QSignalSpy loggedIn(window.get(), &LoginWindow::loggedIn);
    type("kumquat");
    QTest::keyClick(password, Qt::Key_Return);
    EXPECT_EQ(loggedIn.count(), 1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(LoginWindowTest, wrongPasswordIsRefusedAndSelectedForRetyping) {
    QSignalSpy loggedIn(window.get(), &LoginWindow::loggedIn);
    type("Kumquat");
    QTest::mouseClick(child("cmdOK"), Qt::LeftButton);
    EXPECT_EQ(loggedIn.count(), 0);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[1].text, "Invalid Password, try again!");
    EXPECT_EQ(ui.messages[1].style, 0);
    EXPECT_EQ(ui.messages[1].title, "Login");
    EXPECT_EQ(password->selectedText(), "Kumquat");
    EXPECT_TRUE(window->isVisible());

    // Typing replaces the wrong entry.
    QTest::keyClicks(password, "kumquat");
    EXPECT_EQ(password->text(), "kumquat");
    QTest::mouseClick(child("cmdOK"), Qt::LeftButton);
    EXPECT_EQ(loggedIn.count(), 1);
}

TEST_F(LoginWindowTest, helpExplainsThePassword) {
    QTest::mouseClick(child("cmdHelp"), Qt::LeftButton);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[1].title, "Password Help");
    EXPECT_EQ(ui.messages[1].style, 48);
    EXPECT_EQ(ui.messages[1].text,
              "If this is the first time Corvantis Vantory has been run on this computer, the "
              "default password is \"kumquat\", which you should change to ensure that your "
              "files are secure.\r\nOther than that, you need to enter the password that you "
              "set in order to gain access to the files.");
}

TEST_F(LoginWindowTest, cancelAndEscEndTheProgram) {
    QSignalSpy cancelled(window.get(), &LoginWindow::cancelled);
    QTest::mouseClick(child("cmdCancel"), Qt::LeftButton);
    EXPECT_EQ(cancelled.count(), 1);

    window->show();
    type("typed");
    QTest::keyClick(password, Qt::Key_Escape);
    EXPECT_EQ(cancelled.count(), 2);
    EXPECT_TRUE(ui.messages.size() == 1u) << "nothing is asked";
}

TEST_F(LoginWindowTest, anotherInstanceOrAnUnusableSettingsFileMakesLoadFail) {
    test::FakeUiServices busy;
    busy.anotherInstance = true;
    ProgramState other;
    LoginWindow second(other, busy);
    EXPECT_FALSE(second.load());

    test::writeFile(SettingsPath(state), "damaged\r\n");
    test::FakeUiServices told;
    ProgramState third;
    LoginWindow damaged(third, told);
    EXPECT_FALSE(damaged.load());
    EXPECT_EQ(told.messages.size(), 1u);
}

}  // namespace
}  // namespace vantory
