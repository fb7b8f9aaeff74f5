// A user with a storage folder and a main window on it, for the tests that drive commands.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QListWidget>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <utility>

#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"
#include "window/main_window.h"

namespace vantory::test {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

// The fake services with hooks into the wait cursor and into the next yield.
class HookedUi : public FakeUiServices {
  public:
    std::function<void(bool)> onWaitCursor;
    std::function<void()> onYield;
    void setWaitCursor(bool on) override {
        FakeUiServices::setWaitCursor(on);
        if (onWaitCursor) {
            onWaitCursor(on);
        }
    }
    void yield() override {
        FakeUiServices::yield();
        if (auto action = std::exchange(onYield, nullptr)) {
            action();
        }
    }
};

class CommandTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(settleUser(dir, state)); }
    void TearDown() override {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    std::string file(const std::string& name, const std::string& content) {
        const std::string path = dir / ("home/" + name);
        fs::create_directories(fs::path(path).parent_path());
        writeFile(path, content);
        return path;
    }
    // A file hidden as the next entry; a sealed one's original is deleted.
    std::string hide(const std::string& name, const std::string& content, bool sealed) {
        const std::string path = file(name, content);
        EXPECT_TRUE(encryptFileCopy(state, path, StoredPath(state, entries.size()), sealed).ok());
        if (sealed) {
            fs::remove(path);
        }
        stored.push_back(readFile(StoredPath(state, entries.size())));
        entries.push_back({path, sealed});
        return path;
    }
    void open() {
        Catalogue catalogue;
        for (const auto& entry : entries) {
            catalogue.append(entry);
        }
        ASSERT_TRUE(saveList(state, catalogue).ok());
        start(state);
    }
    virtual void start(ProgramState& programState) {
        window.reset();
        window = std::make_unique<MainWindow>(programState, ui);
        window->show();
        window->load();
        settle();
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
    std::vector<CatalogueEntry> saved() {
        Catalogue catalogue;
        EXPECT_TRUE(loadList(state, catalogue).ok());
        return catalogue.entries();
    }
    Texts listedPaths() const {
        Texts paths;
        for (const auto& entry : window->catalogue().entries()) {
            paths.push_back(entry.path);
        }
        return paths;
    }
    std::set<std::string> storageFolder() const { return namesIn(dir / "store"); }
    std::string storedFile(size_t position) { return readFile(StoredPath(state, position)); }
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
    bool contains(const std::string& text, const std::string& part) const {
        return text.find(part) != std::string::npos;
    }
    // The text of the one message shown; "" when there is not exactly one.
    std::string onlyMessage() const {
        EXPECT_EQ(ui.messages.size(), 1u);
        return ui.messages.size() == 1 ? ui.messages[0].text : std::string();
    }

    TempFolder dir;
    HookedUi ui;
    ProgramState state;
    std::unique_ptr<MainWindow> window;
    std::vector<CatalogueEntry> entries;
    Texts stored;  // each entry's stored file as hidden
};

}  // namespace vantory::test
