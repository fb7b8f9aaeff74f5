// A user with a storage folder and a catalogue, for the tests that run commands without a
// window: each test calls the command functions the window's buttons call.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <utility>

#include "commands/recovery.h"
#include "commands/startup.h"
#include "commands/store_check.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"

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

// The busy state as the window keeps it in the program state.
class StateBusy : public FakeBusy {
  public:
    explicit StateBusy(ProgramState& state) : state_(state) {}
    void OpRunning(bool running) override {
        FakeBusy::OpRunning(running);
        state_.bolBusy = running;
    }

  private:
    ProgramState& state_;
};

class CommandTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(settleUser(dir, state)); }
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
    // Writes `entries` as the catalogue and starts on it; the counts of the commands' calls
    // start afresh after the start.
    void open() {
        Catalogue written;
        for (const auto& entry : entries) {
            written.append(entry);
        }
        ASSERT_TRUE(saveList(state, written).ok());
        start();
        listShown = 0;
        busy.calls.clear();
    }
    // What the main window's load step runs: the catalogue is read (a settings file that
    // cannot be used is reported, and nothing else runs), interrupted work is finished, and
    // the store is checked. False when the catalogue could not be read.
    virtual bool start() {
        catalogue.clear();
        if (const Result read = loadList(state, catalogue); !read.ok()) {
            ShowUnusableSettingsFile(state, ui, read);
            return false;
        }
        RecoverInterruptedWork(context);
        ErrorRemoveFiles(context, {}, [this] { ++listShown; });
        return true;
    }
    std::vector<CatalogueEntry> saved() {
        Catalogue read;
        EXPECT_TRUE(loadList(state, read).ok());
        return read.entries();
    }
    // The catalogue the program shows.
    virtual const Catalogue& shownCatalogue() const { return catalogue; }
    Texts listedPaths() const {
        Texts paths;
        for (const auto& entry : shownCatalogue().entries()) {
            paths.push_back(entry.path);
        }
        return paths;
    }
    std::set<std::string> storageFolder() const { return namesIn(dir / "store"); }
    std::string storedFile(size_t position) { return readFile(StoredPath(state, position)); }
    // No command runs: the busy state was left as often as it was entered, and no file is open.
    void expectIdle() {
        EXPECT_FALSE(state.bolBusy);
        EXPECT_FALSE(state.bolTempFileOpen);
        EXPECT_TRUE(busy.calls.empty() || !busy.calls.back());
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
    Catalogue catalogue;
    StateBusy busy{state};
    CommandContext context{state, ui, catalogue, busy};
    std::vector<CatalogueEntry> entries;
    Texts stored;       // each entry's stored file as hidden
    int listShown = 0;  // the times a command said the window should show the list again
};

}  // namespace vantory::test
