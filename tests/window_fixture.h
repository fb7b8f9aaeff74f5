// The command fixture with a main window on the user's storage folder, for the tests that
// click its buttons.
#pragma once

#include <QAbstractButton>
#include <QCoreApplication>
#include <QListWidget>
#include <QTabWidget>
#include <QTest>
#include <memory>

#include "command_fixture.h"
#include "window/main_window.h"

namespace vantory::test {

class WindowTest : public CommandTest {
  protected:
    void TearDown() override {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    bool start() override {
        window.reset();
        window = std::make_unique<MainWindow>(state, ui);
        window->show();
        const bool loaded = window->load();
        settle();
        return loaded;
    }
    // Lets a busy window that is no longer needed close.
    void settle() {
        if (window->busyWindow() != nullptr) {
            window->busyWindow()->Timer1_Timer();
        }
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void click(const char* name) {
        QTest::mouseClick(window->button(name), Qt::LeftButton);
        settle();
    }
    const Catalogue& shownCatalogue() const override { return window->catalogue(); }
    // Every control can be used, or while Run Selected File waits only its button and the tabs.
    void expectControls(bool waiting) {
        for (const char* name : {"cmdAddFile", "cmdRestoreFile", "cmdRestore", "cmdChangePass"}) {
            EXPECT_NE(window->button(name)->isEnabled(), waiting) << name;
        }
        EXPECT_NE(window->fileList()->isEnabled(), waiting);
        EXPECT_TRUE(window->button("cmdShell")->isEnabled());
        EXPECT_TRUE(window->tabControl()->isEnabled());
    }
    // No command runs: every control can be used and no busy window is left.
    void expectIdle() {
        EXPECT_FALSE(state.bolBusy);
        EXPECT_FALSE(state.bolTempFileOpen);
        expectControls(false);
        EXPECT_EQ(window->busyWindow(), nullptr);
    }

    std::unique_ptr<MainWindow> window;
};

}  // namespace vantory::test
