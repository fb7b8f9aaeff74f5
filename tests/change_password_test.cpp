#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <set>

#include "main/change_password.h"
#include "main/recovery.h"
#include "platform/fault_injection.h"
#include "store/sealed_copy.h"
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

const std::string kOld = "old secret";
const std::string kNew = "new secret";

class ChangePasswordTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(test::settleUser(dir, state, kOld, "txt")); }

    // Stores `contents` as entries; `sealed` says which are sealed under the old password.
    void hide(const std::vector<std::string>& texts, const std::vector<bool>& sealed) {
        contents = texts;
        for (size_t i = 0; i < texts.size(); ++i) {
            const std::string original = dir / ("original" + std::to_string(i) + ".doc");
            writeFile(original, texts[i]);
            catalogue.append({original, sealed[i]});
            ASSERT_TRUE(encryptFileCopy(state, ui, original, StoredPath(state, i), sealed[i]).ok());
        }
        ASSERT_TRUE(saveList(state, catalogue, ui).ok());
    }

    // Every sealed stored file unseals under `password` to its content, plain ones hold theirs.
    void expectStoredUnder(const std::string& password, const std::string& storageDir = {}) {
        ProgramState at = state;
        if (!storageDir.empty()) {
            at.strStorageDir = storageDir;
        }
        for (size_t i = 0; i < contents.size(); ++i) {
            SCOPED_TRACE(i);
            const std::string stored = StoredPath(at, i);
            EXPECT_EQ(platform::getAttributes(stored), platform::kStoredAttributes);
            if (!catalogue.at(i).sealed) {
                EXPECT_TRUE(readFile(stored) == contents[i]) << "plain entry " << i << " changed";
                continue;
            }
            ASSERT_TRUE(unsealFile(stored, dir / "unsealed", password).ok());
            EXPECT_TRUE(readFile(dir / "unsealed") == contents[i])
                << "entry " << i << " does not unseal under '" << password << "'";
        }
    }

    ino_t inode(const std::string& path) const {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
        return st.st_ino;
    }

    test::TempFolder dir;
    FakeUiServices ui;
    FakeBusy busy;
    ProgramState state;
    Catalogue catalogue;
    std::vector<std::string> contents;
    CommandContext context{state, ui, catalogue, busy};
};

TEST_F(ChangePasswordTest, reSealsTheSealedFilesAndTheListAndLeavesPlainFilesAlone) {
    hide({"first content", "second, plain", std::string("third\0\r\n\xff", 9)},
         {true, false, true});
    const std::vector<std::string> linesBefore = SplitLines(readFile(SettingsPath(state)));
    const ino_t plainBefore = inode(StoredPath(state, 1));
    ui.inputAnswers = {kNew, kNew};

    ChangePassCommand(context);

    EXPECT_EQ(ui.inputPrompts,
              (std::vector<std::string>{"Enter the new password:  / Enter new password",
                                        "Confirm the new password:  / Confirm Password"}));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Password changed");
    EXPECT_EQ(ui.messages[0].title, "Password changed");
    EXPECT_EQ(ui.messages[0].style, 64);
    EXPECT_EQ(busy.calls, (std::vector<bool>{true, false}));
    EXPECT_EQ(state.strPassword, kNew);
    EXPECT_EQ(state.intProgressTotal, 3);

    expectStoredUnder(kNew);
    EXPECT_EQ(inode(StoredPath(state, 1)), plainBefore) << "the plain file is not touched";
    EXPECT_EQ(namesIn(dir / "store"), (std::set<std::string>{"100.txt", "101.txt", "102.txt"}));
    EXPECT_FALSE(platform::pathExists(PasswordChangeRecordPath(state)));

    // Line 1 and the catalogue lines change; the folder and extension lines stay identical.
    const std::vector<std::string> linesAfter = SplitLines(readFile(SettingsPath(state)));
    ASSERT_EQ(linesAfter.size(), 6u);
    EXPECT_NE(linesAfter[0], linesBefore[0]);
    EXPECT_EQ(linesAfter[1], linesBefore[1]);
    EXPECT_EQ(linesAfter[2], linesBefore[2]);
    for (size_t line = 3; line < 6; ++line) {
        EXPECT_NE(linesAfter[line], linesBefore[line]);
    }
    ProgramState read;
    read.strSystemDir = state.strSystemDir;
    ASSERT_TRUE(ReadSettings(read, ui).ok());
    EXPECT_EQ(read.strPassword, kNew);
    Catalogue loaded;
    ASSERT_TRUE(loadList(read, loaded, ui).ok());
    EXPECT_EQ(loaded, catalogue);
}

TEST_F(ChangePasswordTest, anEmptyCatalogueChangesOnlyTheSettingsFile) {
    writeFile(dir / "store/100.txt", "not ours");
    ASSERT_TRUE(saveList(state, catalogue, ui).ok());
    ui.inputAnswers = {kNew, kNew};

    ChangePassCommand(context);

    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Password changed");
    EXPECT_EQ(namesIn(dir / "store"), (std::set<std::string>{"100.txt"}));
    EXPECT_EQ(readFile(dir / "store/100.txt"), "not ours");
    EXPECT_EQ(SplitLines(readFile(SettingsPath(state))).size(), 3u);
    ProgramState read;
    read.strSystemDir = state.strSystemDir;
    ASSERT_TRUE(ReadSettings(read, ui).ok());
    EXPECT_EQ(read.strPassword, kNew);
}

TEST_F(ChangePasswordTest, differingEntriesChangeNothing) {
    hide({"content"}, {true});
    const std::string settings = readFile(SettingsPath(state));
    const std::string stored = readFile(StoredPath(state, 0));
    ui.inputAnswers = {"Secret", "secret"};

    ChangePassCommand(context);

    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text,
              "The two passwords entered are not the same.  The password was not changed");
    EXPECT_EQ(ui.messages[0].title, "Error");
    EXPECT_EQ(ui.messages[0].style, 64);
    EXPECT_EQ(ui.inputPrompts.size(), 2u);
    EXPECT_TRUE(busy.calls.empty());
    EXPECT_EQ(state.strPassword, kOld);
    EXPECT_EQ(readFile(SettingsPath(state)), settings);
    EXPECT_EQ(readFile(StoredPath(state, 0)), stored);
}

// The same password again still re-seals; Cancel in both boxes gives two empty, equal
// answers, so the password becomes empty.
TEST_F(ChangePasswordTest, theSameOrAnEmptyPasswordStillReSeals) {
    hide({"content", "more"}, {true, true});
    for (const std::string& password : {kOld, std::string()}) {
        SCOPED_TRACE("'" + password + "'");
        const ino_t before = inode(StoredPath(state, 0));
        ui.messages.clear();
        if (!password.empty()) {
            ui.inputAnswers = {password, password};
        }
        ChangePassCommand(context);
        EXPECT_EQ(ui.messages.at(0).text, "Password changed");
        EXPECT_NE(inode(StoredPath(state, 0)), before) << "a new sealed file replaced the old one";
        EXPECT_EQ(state.strPassword, password);
        expectStoredUnder(password);
        ProgramState read;
        read.strSystemDir = state.strSystemDir;
        ASSERT_TRUE(ReadSettings(read, ui).ok());
        EXPECT_EQ(read.strPassword, password);
    }
}

TEST_F(ChangePasswordTest, aMissingStoredFileDoesNotStopTheChange) {
    hide({"kept", "lost", "kept too"}, {true, true, true});
    ASSERT_TRUE(platform::removeFile(StoredPath(state, 1)).ok());

    const ChangePassOutcome outcome = ChangePass(context, kNew);

    EXPECT_EQ(outcome.result, ChangePassOutcome::Result::kChanged);
    ASSERT_TRUE(unsealFile(StoredPath(state, 0), dir / "out", kNew).ok());
    EXPECT_EQ(readFile(dir / "out"), "kept");
    ASSERT_TRUE(unsealFile(StoredPath(state, 2), dir / "out", kNew).ok());
    EXPECT_EQ(readFile(dir / "out"), "kept too");
    EXPECT_EQ(namesIn(dir / "store"), (std::set<std::string>{"100.txt", "102.txt"}));
}

// The second of three sealed files cannot be read: the change is abandoned and every file,
// the settings file and the password stay as they were.
TEST_F(ChangePasswordTest, aFileThatCannotBeReSealedLeavesEverythingUnderTheOldPassword) {
    hide({"one", "two", "three"}, {true, true, true});
    const std::string unreadable = StoredPath(state, 1);
    ASSERT_TRUE(platform::removeFile(unreadable).ok());
    ASSERT_TRUE(platform::makeFolder(unreadable).ok());
    const std::string settings = readFile(SettingsPath(state));
    ui.inputAnswers = {kNew, kNew};

    ChangePassCommand(context);

    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].style, 48);
    EXPECT_NE(ui.messages[0].text.find(unreadable + " of " + catalogue.at(1).path),
              std::string::npos)
        << ui.messages[0].text;
    EXPECT_NE(ui.messages[0].text.find("not changed"), std::string::npos);
    EXPECT_EQ(busy.calls, (std::vector<bool>{true, false}));
    EXPECT_EQ(state.strPassword, kOld);
    EXPECT_EQ(readFile(SettingsPath(state)), settings);
    for (const size_t i : {0, 2}) {
        ASSERT_TRUE(unsealFile(StoredPath(state, i), dir / "out", kOld).ok());
        EXPECT_EQ(readFile(dir / "out"), contents[i]);
    }
    EXPECT_EQ(namesIn(dir / "store"), (std::set<std::string>{"100.txt", "101.txt", "102.txt"}));
    EXPECT_FALSE(platform::pathExists(PasswordChangeRecordPath(state)));
}

TEST_F(ChangePasswordTest, anUnfinishedEarlierOperationIsNotOverwritten) {
    hide({"content"}, {true});
    writeFile(PasswordChangeRecordPath(state), "left by an earlier change");
    ui.inputAnswers = {kNew, kNew};

    ChangePassCommand(context);

    EXPECT_EQ(ui.messages.at(0).style, 48);
    EXPECT_EQ(readFile(PasswordChangeRecordPath(state)), "left by an earlier change");
    EXPECT_EQ(state.strPassword, kOld);
    expectStoredUnder(kOld);
}

// A change stopped after its commit point by a failing disk says which password the next
// start asks for, and the next start indeed asks for that one, then finishes the change.
TEST_F(ChangePasswordTest, anUnfinishedChangeNamesThePasswordTheNextStartAsksFor) {
    struct Case {
        const char* name;
        std::function<std::string()> failingRename;  // the destination whose rename fails
        std::string named;                           // the password the message names
    };
    const std::vector<Case> cases = {
        {"settings file not saved", [this] { return SettingsPath(state); }, "old"},
        {"a stored file not replaced", [this] { return StoredPath(state, 0); }, "new"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir / "store");
        ASSERT_TRUE(platform::makeFolder(dir / "store").ok());
        catalogue.clear();
        SetPassword(state, kOld);
        hide({"one", "two"}, {true, true});
        ui.messages.clear();
        ui.inputAnswers = {kNew, kNew};
        const std::string failing = c.failingRename();
        platform::setFaultHook(
            [&](platform::Operation operation, std::string_view, std::string_view to) {
                return operation == platform::Operation::kRename && to == failing ? EIO : 0;
            });
        ChangePassCommand(context);
        platform::setFaultHook({});
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_NE(ui.messages[0].text.find("type the " + c.named + " password"), std::string::npos)
            << ui.messages[0].text;

        ProgramState next;
        ASSERT_TRUE(GetSysDir(next).ok());
        ASSERT_TRUE(ReadSettings(next, ui).ok());
        EXPECT_EQ(next.strPassword, c.named == "old" ? kOld : kNew);
        Catalogue loaded;
        ASSERT_TRUE(loadList(next, loaded, ui).ok());
        FakeUiServices nextUi;
        CommandContext nextContext{next, nextUi, loaded, busy};
        RecoverInterruptedWork(nextContext);
        EXPECT_EQ(next.strPassword, kNew);
        EXPECT_FALSE(platform::pathExists(PasswordChangeRecordPath(state)));
        expectStoredUnder(kNew);
    }
}

}  // namespace
}  // namespace vantory
