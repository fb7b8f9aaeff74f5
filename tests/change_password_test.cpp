#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "commands/change_password.h"
#include "commands/recovery.h"
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
using Texts = std::vector<std::string>;

const std::string kOld = "old secret";
const std::string kNew = "new secret";

class ChangePasswordTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(test::settleUser(dir, state, kOld, "txt")); }

    // An empty storage folder, then the first `count` of `contents` stored as entries, all but
    // the plain second one sealed under the old password.
    void hide(size_t count) {
        std::filesystem::remove_all(dir / "store");
        ASSERT_TRUE(platform::makeFolder(dir / "store").ok());
        catalogue.clear();
        SetPassword(state, kOld);
        for (size_t i = 0; i < count; ++i) {
            const std::string original = dir / ("original" + std::to_string(i) + ".doc");
            writeFile(original, contents[i]);
            catalogue.append({original, i != 1});
            ASSERT_TRUE(encryptFileCopy(state, original, StoredPath(state, i), i != 1).ok());
        }
        ASSERT_TRUE(saveList(state, catalogue).ok());
    }

    // Every sealed stored file there unseals under `password` to its content, plain ones hold
    // theirs.
    void expectStoredUnder(const std::string& password) {
        for (size_t i = 0; i < catalogue.size(); ++i) {
            SCOPED_TRACE(i);
            const std::string stored = StoredPath(state, i);
            if (!platform::pathExists(stored)) {
                continue;
            }
            EXPECT_EQ(platform::getAttributes(stored), platform::kStoredAttributes);
            if (catalogue.at(i).sealed) {
                ASSERT_TRUE(unsealFile(stored, dir / "unsealed", password).ok()) << password;
            }
            EXPECT_TRUE(readFile(catalogue.at(i).sealed ? dir / "unsealed" : stored) ==
                        contents[i]);
        }
    }

    // Every file of the settings and storage folders, with its content.
    std::map<std::string, std::string> snapshot() const {
        std::map<std::string, std::string> files;
        for (const std::string& folder : {state.strSystemDir, dir / "store"}) {
            for (const auto& found : std::filesystem::directory_iterator(folder)) {
                if (found.is_regular_file()) {
                    files[found.path().string()] = readFile(found.path().string());
                }
            }
        }
        return files;
    }

    ino_t inode(const std::string& path) const {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    }

    test::TempFolder dir;
    FakeUiServices ui;
    FakeBusy busy;
    ProgramState state;
    Catalogue catalogue;
    const Texts contents{"sealed", "plain", std::string("sealed\0\r\n\xff", 10)};
    CommandContext context{state, ui, catalogue, busy};
};

// A change re-seals the sealed stored files into new ones and leaves plain ones and the files
// the list does not name alone; the same password again still re-seals, and so does the empty
// password typed twice. Cancel in either box changes nothing. A change that cannot be made
// leaves every file as it
// was and says why. One stopped after its commit point by a failing rename names the password
// the next start asks for, and the next start indeed asks for that one, then finishes it.
TEST_F(ChangePasswordTest, theSealedFilesAndTheListAreReSealedOrNothingChanges) {
    struct Case {
        Texts answers;
        std::function<void()> setup;
        std::string says;  // how the message starts; all of it on Cancel
        size_t entries = 3;
        std::string failingRename = "";  // the destination whose rename fails
        std::string named = "";          // the password the next start asks for
        bool vanishes = false;  // instead of failing, the rename's re-sealed copy disappears
        std::string extension = "txt";
    };
    const std::string record = PasswordChangeRecordPath(state);
    const std::string lastSealed = StoredPath(state, 2);
    const std::string done = "Password changed";
    const std::string unfinished = "The new password is set, but the change is not finished";
    const auto nothing = [] {};
    const Case cases[] = {
        {{kNew, kNew}, nothing, done},
        {{kNew, kNew}, nothing, done, 0},
        {{kOld, kOld}, nothing, done},
        {{"", ""}, [&] { std::filesystem::remove(lastSealed); }, done},
        {{}, nothing, "The password was not changed"},
        {{""}, nothing, "The password was not changed"},
        {{"Secret", "secret"},
         nothing,
         "The two passwords entered are not the same.  The password was not changed"},
        {{"ab\ncd", "ab\ncd"}, nothing, "The password was not changed: it holds a line break"},
        {{"ab\rcd", "ab\rcd"}, nothing, "The password was not changed: it holds a line break"},
        {{kNew, kNew},
         [&] { writeFile(record, "left by an earlier change"); },
         "The password was not changed: an earlier operation is not finished yet (" + record + ")"},
        {{kNew, kNew},
         [&] {
             std::filesystem::remove(lastSealed);
             std::filesystem::create_directory(lastSealed);
         },
         "The password was not changed: the stored file " + lastSealed + " of " +
             (dir / "original2.doc") + " could not be re-sealed"},
        {{kNew, kNew}, nothing, unfinished, 3, SettingsPath(state), "old"},
        {{kNew, kNew}, nothing, unfinished, 3, StoredPath(state, 0), "new"},
        {{kNew, kNew}, nothing, unfinished, 3, StoredPath(state, 0), "new", true},
        // Stored names as long as a name may be: the new files' names stay within the limit.
        {{kNew, kNew}, nothing, done, 3, "", "", false, std::string(251, 'e')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says + testing::PrintToString(c.answers) + c.failingRename +
                     (c.vanishes ? " vanishes" : ""));
        std::filesystem::remove(record);
        SetExtension(state, c.extension);
        hide(c.entries);
        writeFile(StoredPath(state, c.entries), "not the list's");
        c.setup();
        const auto before = snapshot();
        const Texts lines = SplitLines(readFile(SettingsPath(state)));
        const std::set<std::string> names = namesIn(dir / "store");
        std::vector<ino_t> inodes;
        for (size_t i = 0; i < c.entries; ++i) {
            inodes.push_back(inode(StoredPath(state, i)));
        }
        ui = FakeUiServices();
        busy.calls.clear();
        ui.inputAnswers = {c.answers.begin(), c.answers.end()};
        platform::setFaultHook(
            [&](platform::Operation operation, std::string_view from, std::string_view to) {
                if (operation != platform::Operation::kRename || to != c.failingRename) {
                    return 0;
                }
                return c.vanishes ? ::unlink(std::string(from).c_str()) : EIO;
            });
        ChangePassCommand(context);
        platform::setFaultHook({});

        ASSERT_EQ(ui.messages.size(), 1u);
        const std::string& text = ui.messages[0].text;
        EXPECT_EQ(text.substr(0, c.answers.size() < 2 ? text.size() : c.says.size()), c.says);
        EXPECT_EQ(ui.inputPrompts.size(), c.answers.empty() ? 1u : 2u);
        const bool asked = c.answers.size() == 2 && c.answers[0] == c.answers[1] &&
                           c.says.find("line break") == std::string::npos;
        EXPECT_EQ(busy.calls, (asked ? std::vector<bool>{true, false} : std::vector<bool>()));
        if (c.says != done && c.named.empty()) {
            EXPECT_EQ(state.strPassword, kOld);
            EXPECT_EQ(snapshot(), before);
            continue;
        }
        const std::string password = c.answers[0];
        EXPECT_EQ(state.strPassword, password);
        if (c.named.empty()) {
            EXPECT_EQ(state.intProgressTotal, static_cast<int>(c.entries));
            expectStoredUnder(password);
            for (size_t i = 0; i < c.entries; ++i) {  // new sealed files, the plain one as it was
                EXPECT_EQ(inode(StoredPath(state, i)) == inodes[i], i == 1 || inodes[i] == 0) << i;
            }
            EXPECT_EQ(readFile(StoredPath(state, c.entries)), "not the list's");
            EXPECT_EQ(namesIn(dir / "store"), names);
            EXPECT_FALSE(platform::pathExists(record));
            // The folder and extension lines, under the fixed key, stay as they were.
            const Texts linesAfter = SplitLines(readFile(SettingsPath(state)));
            EXPECT_EQ(Texts(linesAfter.begin() + 1, linesAfter.begin() + 3),
                      Texts(lines.begin() + 1, lines.begin() + 3));
        } else {
            EXPECT_NE(text.find("type the " + c.named + " password"), std::string::npos) << text;
        }
        // The next start reads the password named, and ends with every file under the new one.
        ProgramState next;
        ASSERT_TRUE(GetSysDir(next).ok());
        ASSERT_TRUE(ReadSettings(next).ok());
        EXPECT_EQ(next.strPassword, c.named == "old" ? kOld : password);
        Catalogue loaded;
        ASSERT_TRUE(loadList(next, loaded).ok());
        EXPECT_EQ(loaded, catalogue);
        FakeUiServices nextUi;
        CommandContext nextContext{next, nextUi, loaded, busy};
        // The file whose re-sealed copy disappeared is named with the password it is under: the
        // old one while a start cannot seal it again (the record stays), then the new one.
        const auto named = [&](const std::string& words) {
            const std::string file = StoredPath(state, 0) + " of " + (dir / "original0.doc");
            ASSERT_EQ(nextUi.messages.size(), 1u);
            EXPECT_NE(nextUi.messages[0].text.find(file + words), std::string::npos)
                << nextUi.messages[0].text;
            nextUi.messages.clear();
        };
        if (c.vanishes) {
            platform::setFaultHook([](platform::Operation operation, auto, auto) {
                return operation == platform::Operation::kCreate ? ENOSPC : 0;
            });
            RecoverInterruptedWork(nextContext);
            platform::setFaultHook({});
            EXPECT_TRUE(platform::pathExists(record));
            named(" is still sealed under the old password");
        }
        RecoverInterruptedWork(nextContext);
        EXPECT_EQ(next.strPassword, password);
        EXPECT_FALSE(platform::pathExists(record));
        expectStoredUnder(password);
        if (c.vanishes) {
            named(
                " had disappeared, so that file, still sealed under the old password, was sealed "
                "under the new password again");
        }
    }
}

// New files that a change cut short before its commit point left are removed at the next start,
// those named after the longest stored names too.
TEST_F(ChangePasswordTest, theNewFilesOfAnInterruptedChangeAreRemoved) {
    SetExtension(state, std::string(251, 'e'));
    hide(1);
    PasswordChangeRecord preparing;
    preparing.names = {StoredName(0, state.strExtension)};
    ASSERT_TRUE(WritePasswordChangeRecord(state, preparing).ok());
    Status s;
    ASSERT_TRUE(CreateRekeyedFile(StoredPath(state, 0), s)) << s.message();
    EXPECT_EQ(CompletePasswordChange(context).result, PendingPasswordChange::Result::kUndone);
    EXPECT_EQ(namesIn(dir / "store"), std::set<std::string>{preparing.names[0]});
    expectStoredUnder(kOld);
}

}  // namespace
}  // namespace vantory
