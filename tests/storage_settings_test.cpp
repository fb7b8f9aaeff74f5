#include "commands/storage_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "commands/storage_lock.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"

namespace vantory {
namespace {

using namespace test;

class StorageSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(test::settleUser(dir, state, "pw", "txt")); }

    // `count` stored files, each holding its own number, with the stored attributes; then those
    // of plain entries hidden from `paths`.
    void hide(size_t count, const std::vector<std::string>& paths = {}) {
        for (size_t i = 0; i < count + paths.size(); ++i) {
            writeFile(StoredPath(state, i), "content " + std::to_string(i));
            ASSERT_TRUE(platform::setAttributes(StoredPath(state, i), 7).ok());
            catalogue.append(i < count
                                 ? CatalogueEntry{"/home/u/file" + std::to_string(i), i % 2 == 0}
                                 : CatalogueEntry{paths[i - count], false});
        }
        ASSERT_TRUE(saveList(state, catalogue).ok());
    }

    // Every stored file is under its name in `folder` with `extension`, content and attributes.
    void expectStoredAt(const std::string& folder, const std::string& extension) {
        for (size_t i = 0; i < catalogue.size(); ++i) {
            const std::string path = folder + StoredName(i, extension);
            EXPECT_EQ(readFile(path), "content " + std::to_string(i)) << path;
            EXPECT_EQ(platform::getAttributes(path), 7) << path;
        }
    }

    // The one message shown since the last call, plain, with `title`.
    std::string onlyMessage(const std::string& title = "Vantory") {
        EXPECT_EQ(ui.messages.size(), 1u);
        const FakeUiServices::Message shown =
            ui.messages.empty() ? FakeUiServices::Message{} : ui.messages.back();
        EXPECT_EQ(std::pair(shown.title, shown.style), std::pair(title, 0));
        ui.messages.clear();
        return shown.text;
    }

    test::TempFolder dir;
    FakeUiServices ui;
    test::FakeBusy busy;
    ProgramState state;
    Catalogue catalogue;
    CommandContext context{state, ui, catalogue, busy};
};

TEST_F(StorageSettingsTest, aNewExtensionRenamesEveryStoredFile) {
    hide(2);
    ui.inputAnswers = {"dat"};
    EXPECT_TRUE(SetExtensionCommand(context));
    EXPECT_EQ(ui.inputPrompts,
              (std::vector<std::string>{"Enter the new storage extension without the '.'(Ex: "
                                        "'txt' or 'dat'):  / Enter new extension"}));
    EXPECT_EQ(onlyMessage("Storage extension set"), "New storage extension set to dat");
    EXPECT_EQ(busy.calls, (std::vector<bool>{true, false}));
    EXPECT_GE(ui.yields, 1);
    EXPECT_EQ(namesIn(dir / "store"), (std::set<std::string>{"100.dat", "101.dat"}));
    EXPECT_FALSE(platform::pathExists(JournalPath(state)));

    // Only the first character is checked for a dot.
    ui.inputAnswers = {"d.at"};
    EXPECT_TRUE(SetExtensionCommand(context));
    EXPECT_EQ(onlyMessage("Storage extension set"), "New storage extension set to d.at");
    expectStoredAt(dir / "store/", "d.at");
}

// A refused answer, or Cancel, changes nothing: no file, no setting, no busy state; Cancel says
// nothing either. A file of the user's already under one of the new names is neither replaced
// nor taken for a stored file, nor is a listed file's path (the folder spelt alike, or reached
// through a link) made any position's stored name, and another running copy's storage folder
// is not used.
TEST_F(StorageSettingsTest, refusedAnswersChangeNothing) {
    hide(2, {dir / "store/105.bak", dir / "mine/104.txt", dir / "gone/106.txt"});
    ASSERT_TRUE(platform::makeFolder(dir / "mine").ok());
    std::filesystem::create_directory_symlink(dir / "mine", dir / "link");
    writeFile(dir / "store/101.dat", "the user's own");
    ASSERT_TRUE(platform::makeFolder(dir / "other").ok());
    writeFile(dir / "other/100.txt", "someone else's");
    ASSERT_TRUE(platform::makeFolder(dir / "in use").ok());
    bool inUse = false;
    const auto otherCopy = LockStorageFolder(dir / "in use", inUse);
    const std::string settings = readFile(SettingsPath(state));
    const std::set<std::string> names = namesIn(dir / "store");
    const std::string noSeparator =
        "Please make the last character a '/' for a folder.  Storage directory not changed";
    struct Case {
        bool folder;
        std::optional<std::string> answer;  // nullopt: Cancel
        std::string words;                  // what the message says
    };
    const Case cases[] = {
        {false, ".dat", "Please do not include the '.'.  Storage extension not changed"},
        {false, "", ""},
        {false, std::nullopt, ""},
        {true, std::nullopt, ""},
        {false, "txt", ""},
        {false, "a/b", ""},
        {false, "dat", "101.dat"},
        {false, std::string(252, 'e'), "at most 251 bytes"},  // "999." and it: too long a name
        {true, dir / "elsewhere", noSeparator},
        {true, "", noSeparator},
        {true, "relative/", ""},
        {true, dir / "store/", ""},
        {true, dir / "other/", "100.txt"},
        {true, dir / "in use/", dir / "in use/ is the storage folder of another copy"},
        {false, "bak", dir / "store/105.bak"},
        {true, dir / "link/", dir / "mine/104.txt"},
        {true, dir / "gone/", dir / "gone/106.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("answer '" + c.answer.value_or("Cancel") + "'");
        ui.inputAnswers = {c.answer};
        EXPECT_FALSE(c.folder ? SetStorageDirCommand(context) : SetExtensionCommand(context));
        if (!c.answer) {
            EXPECT_TRUE(ui.messages.empty());
        } else {
            const std::string text = onlyMessage();
            EXPECT_NE(text.find(c.words), std::string::npos) << text;
            EXPECT_TRUE(text.ends_with(c.folder ? "Storage directory not changed"
                                                : "Storage extension not changed"))
                << text;
        }
        EXPECT_TRUE(busy.calls.empty());
        EXPECT_EQ(state.strExtension, "txt");
        EXPECT_EQ(state.strStorageDir, dir / "store/");
        EXPECT_EQ(readFile(SettingsPath(state)), settings);
        EXPECT_EQ(namesIn(dir / "store"), names);
    }
    EXPECT_EQ(ui.inputPrompts.back(),
              "Enter the new storage directory (make sure the last character is '/'):  / Enter "
              "new directory");
    expectStoredAt(dir / "store/", "txt");
    EXPECT_EQ(readFile(dir / "store/101.dat"), "the user's own");
    EXPECT_EQ(readFile(dir / "other/100.txt"), "someone else's");
    EXPECT_FALSE(platform::pathExists(dir / "elsewhere"));
    EXPECT_FALSE(platform::pathExists(dir / "relative"));
}

// Without files one new level is made, not two; with files to move, the moves create every
// missing level, each private.
TEST_F(StorageSettingsTest, onlyFilesToMoveCreateMoreThanOneLevel) {
    ASSERT_TRUE(saveList(state, catalogue).ok());
    const std::string settings = readFile(SettingsPath(state));
    ui.inputAnswers = {dir / "a/b/"};
    EXPECT_FALSE(SetStorageDirCommand(context));
    EXPECT_EQ(onlyMessage(),
              "Please create only up to one new folder when setting storage directory");
    EXPECT_EQ(busy.calls, (std::vector<bool>{true, false}));
    EXPECT_EQ(state.strStorageDir, dir / "store/");
    EXPECT_EQ(readFile(SettingsPath(state)), settings);
    EXPECT_FALSE(platform::pathExists(dir / "a"));

    ui.inputAnswers = {dir / "a/"};
    EXPECT_TRUE(SetStorageDirCommand(context));
    EXPECT_EQ(onlyMessage("Storage directory set"), "New storage directory set to " + dir / "a/");
    EXPECT_PERMISSIONS(dir / "a", 0700u);
    ProgramState saved;
    saved.strSystemDir = state.strSystemDir;
    ASSERT_TRUE(ReadSettings(saved).ok());
    EXPECT_EQ(saved.strStorageDir, dir / "a/");

    hide(2);
    const std::string folder = dir / "a/b/c/";  // inside the old folder
    ui.inputAnswers = {folder};
    busy.calls.clear();
    EXPECT_TRUE(SetStorageDirCommand(context));
    EXPECT_EQ(onlyMessage("Storage directory set"), "New storage directory set to " + folder);
    EXPECT_EQ(busy.calls, (std::vector<bool>{true, false}));
    expectStoredAt(folder, "txt");
    EXPECT_EQ(namesIn(dir / "a"), (std::set<std::string>{"b"}));  // its lock went too
    bool inUse = false;
    (void)LockStorageFolder(folder, inUse);
    EXPECT_TRUE(inUse) << "the new folder is not this copy's";
    EXPECT_PERMISSIONS(dir / "a/b", 0700u);
    EXPECT_PERMISSIONS(dir / "a/b/c", 0700u);
}

// The second stored file's rename or move fails: every file is put back, the message names it.
TEST_F(StorageSettingsTest, aRenameOrMoveThatFailsPutsEveryFileBack) {
    hide(3);
    const std::string settings = readFile(SettingsPath(state));
    const std::string second = StoredPath(state, 1);
    const auto failSecond = [&](const std::string& from, const std::string& to) {
        return from == second ? Status{EIO} : platform::movePath(from, to);
    };
    EXPECT_FALSE(ChangeExtension(context, "dat", failSecond));
    EXPECT_FALSE(ChangeStorageDir(context, dir / "moved/", failSecond));

    ASSERT_EQ(ui.messages.size(), 2u);
    for (const auto& message : ui.messages) {
        EXPECT_NE(message.text.find(StoredPath(state, 1)), std::string::npos) << message.text;
    }
    EXPECT_NE(ui.messages[1].text.find("was not changed"), std::string::npos);
    EXPECT_EQ(busy.calls, (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(state.strExtension, "txt");
    EXPECT_EQ(state.strStorageDir, dir / "store/");
    EXPECT_EQ(readFile(SettingsPath(state)), settings);
    expectStoredAt(dir / "store/", "txt");
    EXPECT_EQ(namesIn(dir / "store"), (std::set<std::string>{"100.txt", "101.txt", "102.txt"}));
    EXPECT_FALSE(platform::pathExists(dir / "moved")) << "the new, empty folder is removed";
    EXPECT_FALSE(platform::pathExists(JournalPath(state)));
}

}  // namespace
}  // namespace vantory
