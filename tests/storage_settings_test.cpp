#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "main/storage_settings.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"

namespace vantory {
namespace {

using test::FakeBusy;
using test::FakeUiServices;
using test::namesIn;
using test::readFile;
using test::writeFile;

constexpr const char* kExtensionRefused = "Storage extension not changed";
constexpr const char* kFolderRefused = "Storage directory not changed";

class StorageSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(test::settleUser(dir, state, "pw", "txt")); }

    // `count` stored files, each holding its own number, with the stored attributes.
    void hide(size_t count) {
        for (size_t i = 0; i < count; ++i) {
            writeFile(StoredPath(state, i), "content " + std::to_string(i));
            ASSERT_TRUE(platform::setAttributes(StoredPath(state, i), 7).ok());
            catalogue.append({"/home/u/file" + std::to_string(i), i % 2 == 0});
        }
        ASSERT_TRUE(saveList(state, catalogue, ui).ok());
    }

    // Every stored file sits under its name in `folder` with `extension`, content and
    // attributes intact.
    void expectStoredAt(const std::string& folder, const std::string& extension) {
        for (size_t i = 0; i < catalogue.size(); ++i) {
            const std::string path = folder + StoredName(i, extension);
            EXPECT_EQ(readFile(path), "content " + std::to_string(i)) << path;
            EXPECT_EQ(platform::getAttributes(path), 7) << path;
        }
    }

    ProgramState saved() {
        ProgramState read;
        read.strSystemDir = state.strSystemDir;
        EXPECT_TRUE(ReadSettings(read, ui).ok());
        return read;
    }

    const FakeUiServices::Message& onlyMessage() {
        EXPECT_EQ(ui.messages.size(), 1u);
        static const FakeUiServices::Message none{"", -1, ""};
        return ui.messages.empty() ? none : ui.messages.back();
    }

    test::TempFolder dir;
    FakeUiServices ui;
    FakeBusy busy;
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
    const auto& message = onlyMessage();
    EXPECT_EQ(message.text, "New storage extension set to dat");
    EXPECT_EQ(message.title, "Storage extension set");
    EXPECT_EQ(message.style, 0);
    EXPECT_EQ(busy.calls, (std::vector<bool>{true, false}));
    EXPECT_GE(ui.yields, 1);
    EXPECT_EQ(state.strExtension, "dat");
    EXPECT_EQ(saved().strExtension, "dat");
    expectStoredAt(dir / "store/", "dat");
    EXPECT_EQ(namesIn(dir / "store"), (std::set<std::string>{"100.dat", "101.dat"}));
    EXPECT_FALSE(platform::pathExists(JournalPath(state)));
}

TEST_F(StorageSettingsTest, refusedExtensionsChangeNothing) {
    hide(2);
    const std::string settings = readFile(SettingsPath(state));
    struct Case {
        std::string answer;
        std::string message;
    };
    for (const Case& c :
         {Case{".dat", "Please do not include the '.'.  Storage extension not changed"},
          Case{"", ""}, Case{"txt", ""}, Case{"a/b", ""}}) {
        SCOPED_TRACE("answer '" + c.answer + "'");
        ui.messages.clear();
        ui.inputAnswers = {c.answer};
        EXPECT_FALSE(SetExtensionCommand(context));
        const auto& message = onlyMessage();
        if (!c.message.empty()) {
            EXPECT_EQ(message.text, c.message);
        }
        EXPECT_NE(message.text.find(kExtensionRefused), std::string::npos) << message.text;
        EXPECT_EQ(message.title, "Vantory");
        EXPECT_EQ(message.style, 0);
        EXPECT_TRUE(busy.calls.empty());
        EXPECT_EQ(state.strExtension, "txt");
        EXPECT_EQ(readFile(SettingsPath(state)), settings);
        EXPECT_EQ(namesIn(dir / "store"), (std::set<std::string>{"100.txt", "101.txt"}));
    }

    // Only the first character is checked for a dot.
    ui.messages.clear();
    ui.inputAnswers = {"d.at"};
    EXPECT_TRUE(SetExtensionCommand(context));
    EXPECT_EQ(onlyMessage().text, "New storage extension set to d.at");
    expectStoredAt(dir / "store/", "d.at");
}

// A file of the user's already under one of the new names is neither replaced nor taken for
// a stored file.
TEST_F(StorageSettingsTest, aNewNameThatIsTakenIsRefused) {
    hide(2);
    writeFile(dir / "store/101.dat", "the user's own");
    ui.inputAnswers = {"dat"};

    EXPECT_FALSE(SetExtensionCommand(context));

    EXPECT_NE(onlyMessage().text.find("101.dat"), std::string::npos);
    EXPECT_EQ(readFile(dir / "store/101.dat"), "the user's own");
    expectStoredAt(dir / "store/", "txt");
    EXPECT_EQ(state.strExtension, "txt");
}

TEST_F(StorageSettingsTest, refusedFoldersChangeNothing) {
    hide(1);
    const std::string settings = readFile(SettingsPath(state));
    const std::string noSeparator =
        "Please make the last character a '/' for a folder.  Storage directory not changed";
    struct Case {
        std::string answer;
        std::string message;
    };
    for (const Case& c : {Case{dir / "elsewhere", noSeparator}, Case{"", noSeparator},
                          Case{"relative/", ""}, Case{state.strStorageDir, ""}}) {
        SCOPED_TRACE("answer '" + c.answer + "'");
        ui.messages.clear();
        ui.inputAnswers = {c.answer};
        EXPECT_FALSE(SetStorageDirCommand(context));
        const auto& message = onlyMessage();
        if (!c.message.empty()) {
            EXPECT_EQ(message.text, c.message);
        }
        EXPECT_NE(message.text.find(kFolderRefused), std::string::npos) << message.text;
        EXPECT_EQ(message.title, "Vantory");
        EXPECT_EQ(message.style, 0);
        EXPECT_TRUE(busy.calls.empty());
        EXPECT_EQ(state.strStorageDir, dir / "store/");
        EXPECT_EQ(readFile(SettingsPath(state)), settings);
    }
    EXPECT_EQ(ui.inputPrompts.at(0),
              "Enter the new storage directory (make sure the last character is '/'):  / Enter "
              "new directory");
    EXPECT_FALSE(platform::pathExists(dir / "elsewhere"));
    EXPECT_FALSE(platform::pathExists(dir / "relative"));
}

TEST_F(StorageSettingsTest, aNewFolderOneLevelDownIsCreatedPrivateAndTakesTheFiles) {
    hide(2);
    const std::string folder = dir / "store/inner/";  // inside the old folder
    ui.inputAnswers = {folder};

    EXPECT_TRUE(SetStorageDirCommand(context));

    const auto& message = onlyMessage();
    EXPECT_EQ(message.text, "New storage directory set to " + folder);
    EXPECT_EQ(message.title, "Storage directory set");
    EXPECT_EQ(message.style, 0);
    EXPECT_EQ(busy.calls, (std::vector<bool>{true, false}));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "store/inner").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(state.strStorageDir, folder);
    EXPECT_EQ(saved().strStorageDir, folder);
    expectStoredAt(folder, "txt");
    EXPECT_EQ(namesIn(dir / "store"), (std::set<std::string>{"inner"}));
}

TEST_F(StorageSettingsTest, anEmptyCatalogueGetsOneNewLevelButNotTwo) {
    ASSERT_TRUE(saveList(state, catalogue, ui).ok());
    const std::string settings = readFile(SettingsPath(state));
    ui.inputAnswers = {dir / "a/b/"};

    EXPECT_FALSE(SetStorageDirCommand(context));

    const auto& refused = onlyMessage();
    EXPECT_EQ(refused.text,
              "Please create only up to one new folder when setting storage directory");
    EXPECT_EQ(refused.title, "Vantory");
    EXPECT_EQ(refused.style, 0);
    EXPECT_EQ(busy.calls, (std::vector<bool>{true, false}));
    EXPECT_EQ(state.strStorageDir, dir / "store/");
    EXPECT_EQ(readFile(SettingsPath(state)), settings);
    EXPECT_FALSE(platform::pathExists(dir / "a"));

    ui.messages.clear();
    ui.inputAnswers = {dir / "a/"};
    EXPECT_TRUE(SetStorageDirCommand(context));
    EXPECT_EQ(onlyMessage().text, "New storage directory set to " + dir / "a/");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(saved().strStorageDir, dir / "a/");
}

// With files to move, the moves create the missing folders, every level private.
TEST_F(StorageSettingsTest, filesToMoveCreateEveryMissingLevel) {
    hide(2);
    ui.inputAnswers = {dir / "a/b/"};

    EXPECT_TRUE(SetStorageDirCommand(context));

    expectStoredAt(dir / "a/b/", "txt");
    for (const char* level : {"a", "a/b"}) {
        struct stat st {};
        ASSERT_EQ(::stat((dir / level).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << level;
    }
}

// The second rename or move fails: every file is put back, the message names it.
TEST_F(StorageSettingsTest, aRenameOrMoveThatFailsPutsEveryFileBack) {
    hide(3);
    const std::string settings = readFile(SettingsPath(state));
    int calls = 0;
    const auto failSecond = [&](const std::string& from, const std::string& to) {
        return ++calls == 2 ? Status{EIO} : platform::movePath(from, to);
    };
    EXPECT_FALSE(ChangeExtension(context, "dat", failSecond));
    EXPECT_FALSE(ChangeStorageDir(context, dir / "moved/", (calls = 0, failSecond)));

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

TEST_F(StorageSettingsTest, aFolderAlreadyHoldingAStoredNameIsRefused) {
    hide(2);
    ASSERT_TRUE(platform::makeFolder(dir / "other").ok());
    writeFile(dir / "other/100.txt", "someone else's");
    ui.inputAnswers = {dir / "other/"};

    EXPECT_FALSE(SetStorageDirCommand(context));

    EXPECT_NE(onlyMessage().text.find("100.txt"), std::string::npos);
    EXPECT_EQ(readFile(dir / "other/100.txt"), "someone else's");
    expectStoredAt(dir / "store/", "txt");
    EXPECT_EQ(state.strStorageDir, dir / "store/");
}

}  // namespace
}  // namespace vantory
