#include "main/restore_command.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QListWidget>
#include <QTest>
#include <filesystem>
#include <set>

#include "main/main_window.h"
#include "platform/platform.h"
#include "store/move_journal.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"

namespace vantory {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

class RestoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(test::settleUser(dir, state));
        fs::create_directories(dir / "home");
    }
    void TearDown() override {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Hides a new file `name` under home/ with `content`, as entry number entries.size().
    std::string hide(const std::string& name, const std::string& content, bool sealed) {
        const std::string path = dir / ("home/" + name);
        fs::create_directories(fs::path(path).parent_path());
        writeFile(path, content);
        EXPECT_TRUE(
            encryptFileCopy(state, ui, path, StoredPath(state, entries.size()), sealed).ok());
        if (sealed) {
            fs::remove(path);  // so that only a restore can bring it back
        }
        stored.push_back(readFile(StoredPath(state, entries.size())));
        entries.push_back({path, sealed});
        contents.push_back(content);
        return path;
    }

    void open() {
        Catalogue catalogue;
        for (const auto& entry : entries) {
            catalogue.append(entry);
        }
        ASSERT_TRUE(saveList(state, catalogue, ui).ok());
        window = std::make_unique<MainWindow>(state, ui);
        window->show();
        window->load();
        ASSERT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    }

    void click(const char* name) { QTest::mouseClick(window->button(name), Qt::LeftButton); }

    // The catalogue as the settings file holds it.
    std::vector<CatalogueEntry> saved() {
        Catalogue catalogue;
        EXPECT_TRUE(loadList(state, catalogue, ui).ok());
        return catalogue.entries();
    }
    std::set<std::string> storageFolder() const {
        std::set<std::string> names;
        for (const auto& file : fs::directory_iterator(dir / "store")) {
            names.insert(file.path().filename().string());
        }
        return names;
    }
    std::string storedFile(size_t position) { return readFile(StoredPath(state, position)); }
    bool allEnabled() const {
        for (const char* name : {"cmdAddFile", "cmdRestoreFile", "cmdRestore", "cmdShell"}) {
            if (!window->button(name)->isEnabled()) {
                return false;
            }
        }
        return window->fileList()->isEnabled() && window->tabControl()->isEnabled();
    }

    test::TempFolder dir;
    test::FakeUiServices ui;
    ProgramState state;
    std::unique_ptr<MainWindow> window;
    std::vector<CatalogueEntry> entries;
    std::vector<std::string> stored;    // each entry's stored file as hidden
    std::vector<std::string> contents;  // each entry's original content
};

TEST_F(RestoreTest, restoringTheFirstOfThreeRenumbersTheOthersDown) {
    const std::string a = hide("a.txt", "first", false);
    hide("b.txt", "second", false);
    hide("c.txt", "third", false);
    open();
    window->setSelection({0});
    click("cmdRestoreFile");

    EXPECT_EQ(readFile(a), "first");
    EXPECT_EQ(storageFolder(), (std::set<std::string>{"100.dat", "101.dat"}));
    EXPECT_EQ(storedFile(0), "second");
    EXPECT_EQ(storedFile(1), "third");
    const std::vector<CatalogueEntry> left{entries[1], entries[2]};
    EXPECT_EQ(window->catalogue().entries(), left);
    EXPECT_EQ(saved(), left);
    EXPECT_EQ(window->fileList()->count(), 2);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(allEnabled());
    EXPECT_FALSE(state.bolBusy);
    // Every entry of the list as it was is counted as examined.
    EXPECT_EQ(state.intProgress, 4);
    EXPECT_EQ(state.intProgressTotal, 3);
}

TEST_F(RestoreTest, firstAndThirdOfFourEndWithTheOthersAs100And101) {
    // Sealed entries leave their stored copies behind; the renumbering replaces them.
    const std::string a = hide("a.txt", "alpha", true);
    hide("b.txt", "bravo", false);
    const std::string c = hide("sub/c.txt", "charlie", true);
    hide("d.txt", "delta", true);
    open();
    window->setSelection({0, 2});
    click("cmdRestoreFile");

    EXPECT_EQ(readFile(a), "alpha");
    EXPECT_EQ(readFile(c), "charlie");
    EXPECT_EQ(storageFolder(), (std::set<std::string>{"100.dat", "101.dat"}));
    EXPECT_EQ(storedFile(0), "bravo");
    EXPECT_EQ(storedFile(1), stored[3]);
    const std::vector<CatalogueEntry> left{entries[1], entries[3]};
    EXPECT_EQ(saved(), left);
    EXPECT_TRUE(window->selectedPositions().empty());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(fs::exists(JournalPath(state)));
}

TEST_F(RestoreTest, restoringTheLastEntryRenumbersNothing) {
    hide("a.txt", "kept", false);
    const std::string b = hide("b.txt", "sealed one", true);
    hide("c.txt", "last", true);
    open();
    window->setSelection({1, 2});
    click("cmdRestoreFile");

    EXPECT_EQ(readFile(b), "sealed one");
    EXPECT_EQ(storedFile(0), "kept");
    // The last entry's sealed copy stays, under the number it had when it was restored one
    // entry after the other: the first one after the remaining entries.
    EXPECT_EQ(storageFolder(), (std::set<std::string>{"100.dat", "101.dat"}));
    EXPECT_EQ(storedFile(1), stored[2]);
    EXPECT_EQ(platform::getAttributes(StoredPath(state, 1)), platform::kNormal);
    EXPECT_EQ(saved(), std::vector<CatalogueEntry>{entries[0]});
}

TEST_F(RestoreTest, noCurrentItemDoesNothingAndNoSelectionWritesTheSettingsAgain) {
    hide("a.txt", "x", false);
    open();
    window->fileList()->clearSelection();
    window->fileList()->setCurrentRow(-1);
    ASSERT_TRUE(platform::removeFile(SettingsPath(state)).ok());
    click("cmdRestoreFile");
    EXPECT_FALSE(fs::exists(SettingsPath(state)));
    EXPECT_EQ(storedFile(0), "x");

    window->fileList()->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    ASSERT_TRUE(window->selectedPositions().empty());
    click("cmdRestoreFile");
    EXPECT_EQ(saved(), entries);
    EXPECT_EQ(storedFile(0), "x");
    EXPECT_TRUE(allEnabled());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(RestoreTest, restoreAllOfAnEmptyCatalogueWritesTheSettingsLinesOnly) {
    open();
    ASSERT_TRUE(platform::removeFile(SettingsPath(state)).ok());
    click("cmdRestore");
    EXPECT_EQ(SplitLines(readFile(SettingsPath(state))).size(), 3u);
    EXPECT_TRUE(saved().empty());
    EXPECT_EQ(window->fileList()->count(), 0);
    EXPECT_TRUE(allEnabled());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(RestoreTest, restoreAllBringsEveryFileBackAndLeavesSealedCopiesInPlace) {
    const std::string a = hide("a.txt", "one", false);
    const std::string b = hide("b.txt", "two", true);
    const std::string c = hide("c.txt", "three", false);
    open();
    click("cmdRestore");
    EXPECT_EQ(readFile(a), "one");
    EXPECT_EQ(readFile(b), "two");
    EXPECT_EQ(readFile(c), "three");
    EXPECT_EQ(storageFolder(), (std::set<std::string>{"101.dat"}));
    EXPECT_TRUE(saved().empty());
    EXPECT_EQ(window->fileList()->count(), 0);
    EXPECT_EQ(state.intProgress, 4);
    EXPECT_EQ(state.intProgressTotal, 3);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(RestoreTest, aFileThatCannotGoBackStaysHiddenAndIsNamed) {
    const std::string a = hide("a.txt", "comes back", false);
    const std::string lost = hide("gone/deeper/b.txt", "folder gone", false);
    const std::string refused = hide("c.txt", "refused", true);
    hide("d.txt", "not selected", false);
    const std::string e = hide("again/e.txt", "folder made again", true);
    open();
    fs::remove_all(dir / "home/gone");
    fs::remove_all(dir / "home/again");
    fs::create_directories(refused + "/in-the-way");  // a folder where the file would go
    window->setSelection({0, 1, 2, 4});
    click("cmdRestoreFile");

    EXPECT_EQ(readFile(a), "comes back");
    EXPECT_EQ(readFile(e), "folder made again");
    EXPECT_FALSE(fs::exists(lost));
    // The two that could not go back stay, with their stored copies as they were, and the
    // entries after them follow them down.
    const std::vector<CatalogueEntry> left{entries[1], entries[2], entries[3]};
    EXPECT_EQ(window->catalogue().entries(), left);
    EXPECT_EQ(saved(), left);
    EXPECT_EQ(storedFile(0), stored[1]);
    EXPECT_EQ(storedFile(1), stored[2]);
    EXPECT_EQ(storedFile(2), "not selected");
    EXPECT_EQ(platform::getAttributes(StoredPath(state, 0)), platform::kStoredAttributes);
    EXPECT_EQ(platform::getAttributes(StoredPath(state, 1)), platform::kStoredAttributes);
    // The sealed copy of the last entry, restored, stays under the first free number.
    EXPECT_EQ(storageFolder(), (std::set<std::string>{"100.dat", "101.dat", "102.dat", "103.dat"}));
    EXPECT_EQ(storedFile(3), stored[4]);

    ASSERT_EQ(ui.messages.size(), 1u);
    const auto& message = ui.messages[0];
    EXPECT_NE(message.text.find(lost), std::string::npos);
    EXPECT_NE(message.text.find(refused), std::string::npos);
    EXPECT_EQ(message.text.find(a), std::string::npos);
    EXPECT_EQ(message.style, UiServices::kExclamation);
    // The two left behind are selected, ready for another try.
    EXPECT_EQ(window->selectedPositions(), (std::vector<size_t>{0, 1}));
    EXPECT_TRUE(allEnabled());

    // Once the way is clear, they come back.
    fs::remove_all(refused);
    fs::create_directories(dir / "home/gone/deeper");
    click("cmdRestoreFile");
    EXPECT_EQ(readFile(lost), "folder gone");
    EXPECT_EQ(readFile(refused), "refused");
    EXPECT_EQ(saved(), std::vector<CatalogueEntry>{entries[3]});
    EXPECT_EQ(storedFile(0), "not selected");
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(RestoreTest, restoreAllKeepsWhatCannotGoBackAndRenumbersIt) {
    const std::string a = hide("a.txt", "one", true);
    hide("b.txt", "two", false);
    const std::string c = hide("c.txt", "three", false);
    open();
    ASSERT_TRUE(platform::removeFile(StoredPath(state, 1)).ok());  // lost behind our back
    fs::create_directories(c + "/in-the-way");
    click("cmdRestore");

    EXPECT_EQ(readFile(a), "one");
    // The entry whose stored copy is missing stays too: it has nothing to lose either way.
    const std::vector<CatalogueEntry> left{entries[1], entries[2]};
    EXPECT_EQ(saved(), left);
    // The sealed copy that a's restore left under 100 must not pass for b's stored file.
    EXPECT_FALSE(fs::exists(StoredPath(state, 0)));
    EXPECT_EQ(storedFile(1), "three");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find(c), std::string::npos);
    EXPECT_NE(ui.messages[0].text.find(entries[1].path), std::string::npos);
}

TEST_F(RestoreTest, aRenumberingThatFailsLeavesTheListAsTheDiskHasIt) {
    const std::string a = hide("a.txt", "sealed", true);
    hide("b.txt", "plain", false);
    open();
    // A folder under the second entry's stored name cannot replace the first one's copy.
    ASSERT_TRUE(platform::removeFile(StoredPath(state, 1)).ok());
    fs::create_directories(StoredPath(state, 1) + "/x");
    window->setSelection({0});
    click("cmdRestoreFile");

    EXPECT_EQ(readFile(a), "sealed");
    EXPECT_EQ(window->catalogue().entries(), entries);
    EXPECT_EQ(saved(), entries);
    EXPECT_EQ(storedFile(0), stored[0]);
    EXPECT_FALSE(fs::exists(JournalPath(state)));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find("renumbered"), std::string::npos);
    EXPECT_TRUE(allEnabled());
}

}  // namespace
}  // namespace vantory
