#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "cipher/cipher.h"
#include "commands/startup.h"
#include "commands/store_check.h"
#include "platform/fault_injection.h"
#include "store/settings_file.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"

namespace vantory {
namespace {

using namespace test;

class StartupTest : public ::testing::Test {
  protected:
    test::TempFolder dir;
    const std::string configDir = dir.useAsConfigHome();
    const std::string settingsFile = configDir + platform::kSeparator + "regInfo.lst";
    test::FakeUiServices ui;
    ProgramState state;
};

TEST_F(StartupTest, firstStartWritesFactorySettingsAndSaysSoTheSecondReadsThem) {
    test::FakeUiServices other;  // while another copy runs, nothing is written
    other.anotherInstance = true;
    EXPECT_EQ(PrepareStart(state, other), StartOutcome::kAnotherInstance);
    EXPECT_FALSE(platform::pathExists(settingsFile) || !other.messages.empty());
    EXPECT_EQ(PrepareStart(state, ui), StartOutcome::kFactorySettings);
    const std::string storage = configDir + platform::kSeparator;
    EXPECT_EQ(readFile(settingsFile),
              "ekHwrLlhXK\r\n" + Seal(storage, SettingsKey) + "\r\npxOw\r\n");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text,
              "Program file not found.  Password reset to 'kumquat'\r\n"
              "Hidden file storage directory set to " +
                  storage +
                  "\r\n"
                  "Hidden file extension set to txt");
    EXPECT_EQ(ui.messages[0].style, 64);
    EXPECT_EQ(ui.messages[0].title, "Program file not found");
    EXPECT_PERMISSIONS(configDir, 0700u);
    EXPECT_PERMISSIONS(settingsFile, 0600u);
    // Another copy on the same storage folder (the fake lets it past the instance lock) is
    // told which folder is in use, and ends.
    ProgramState again;
    test::FakeUiServices quiet;
    EXPECT_EQ(PrepareStart(again, quiet), StartOutcome::kStorageInUse);
    ASSERT_EQ(quiet.messages.size(), 1u);
    EXPECT_THAT(quiet.messages[0].text, ::testing::HasSubstr("The folder " + storage +
                                                             " is the storage folder of another "
                                                             "copy of Vantory that is running"));
    quiet.messages.clear();
    // Once the first has ended, the next start reads the file silently.
    state.storageLock.reset();
    EXPECT_EQ(PrepareStart(again, quiet), StartOutcome::kReady);
    EXPECT_TRUE(quiet.messages.empty());
    for (const ProgramState& started : {state, again}) {
        EXPECT_EQ(started.strSystemDir, configDir);
        EXPECT_EQ(started.strPassword, "kumquat");
        EXPECT_EQ(started.strStorageDir, storage);
        EXPECT_EQ(started.strExtension, "txt");
    }
}

// A settings file that cannot be used is left as it is, and so is everything else: going on
// would write a new one over it, and new stored files over those it lists.
TEST_F(StartupTest, aSettingsFileThatCannotBeUsedIsReportedInWordsAndNothingIsWritten) {
    ASSERT_EQ(PrepareStart(state, ui), StartOutcome::kFactorySettings);
    const std::string& path = settingsFile;
    const std::string good = readFile(path);
    struct Case {
        const char* name;
        std::string content;  // written over the good file, when not empty
        int readError;        // what opening it for reading fails with, when not 0
        std::string words;    // what the message says is wrong
    };
    const std::vector<Case> cases = {
        {"two lines", "ekHwrLlhXK\r\npxOw\r\n", 0, "damaged"},
        {"not sealed text", "ekHwrLlhXK\r\n/home/me/\r\npxOw\r\n", 0, "damaged"},
        {"no permission", "", EACCES, std::strerror(EACCES)},
        {"failing disk", "", EIO, std::strerror(EIO)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::writeFile(path, c.content.empty() ? good : c.content);
        const std::string before = readFile(path);
        int changes = 0;
        platform::setFaultHook(
            [&](platform::Operation operation, std::string_view read, std::string_view) {
                if (operation == platform::Operation::kReadPiece) {
                    return 0;
                }
                if (operation != platform::Operation::kRead) {
                    ++changes;
                    return 0;
                }
                return read == path ? c.readError : 0;
            });
        ProgramState again;
        test::FakeUiServices second;
        const StartOutcome outcome = PrepareStart(again, second);
        platform::setFaultHook({});
        EXPECT_EQ(outcome, StartOutcome::kSettingsUnusable);
        EXPECT_EQ(changes, 0);
        EXPECT_EQ(readFile(path), before);
        ASSERT_EQ(second.messages.size(), 1u);
        using testing::HasSubstr, testing::Not;
        EXPECT_THAT(
            second.messages[0].text,
            AllOf(HasSubstr(path), HasSubstr(c.words), Not(HasSubstr(std::strerror(EILSEQ))),
                  Not(HasSubstr("kumquat"))));  // no factory password
    }
}

// A settings file cut at any byte: the start either refuses it, writing nothing, or (cut at a
// line end) loads exactly the whole entries it holds, and its store check leaves it unchanged.
TEST_F(StartupTest, aSettingsFileCutAnywhereIsRefusedOrLoadsItsWholeEntries) {
    ASSERT_NO_FATAL_FAILURE(settleUser(dir, state));
    Catalogue catalogue;
    for (const char* path : {"/home/u/a.txt", "/home/u/b|c.doc", "/x"}) {
        catalogue.append({path, catalogue.size() != 1});
        writeFile(StoredPath(state, catalogue.size() - 1), "stored");
    }
    ASSERT_TRUE(saveList(state, catalogue).ok());
    const std::string full = readFile(settingsFile);
    std::vector<size_t> lineEnds;
    for (size_t at = full.find("\r\n"); at != std::string::npos; at = full.find("\r\n", at + 1)) {
        lineEnds.push_back(at + 2);
    }
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        SCOPED_TRACE(cut);
        const std::string content = full.substr(0, cut);
        writeFile(settingsFile, content);
        int changes = 0;
        platform::setFaultHook(
            [&](platform::Operation operation, std::string_view path, std::string_view other) {
                const bool read = operation == platform::Operation::kRead ||
                                  operation == platform::Operation::kReadPiece;
                changes += !read && (path.find(configDir) == 0 || other.find(configDir) == 0);
                return 0;
            });
        const auto end = std::find(lineEnds.begin(), lineEnds.end(), cut);
        const size_t whole = end == lineEnds.end() ? 0 : end - lineEnds.begin() + 1;
        ProgramState started;
        test::FakeUiServices quiet;
        const StartOutcome outcome = PrepareStart(started, quiet);
        Catalogue loaded;
        if (outcome == StartOutcome::kReady && loadList(started, loaded).ok()) {
            test::FakeBusy busy;
            CommandContext context{started, quiet, loaded, busy};
            EXPECT_TRUE(ErrorRemoveFiles(context).empty());
        }
        platform::setFaultHook({});
        EXPECT_EQ(changes, 0);
        EXPECT_EQ(readFile(settingsFile), content);
        if (whole < 3) {
            EXPECT_EQ(outcome, StartOutcome::kSettingsUnusable);
            ASSERT_EQ(quiet.messages.size(), 1u);
            EXPECT_THAT(quiet.messages[0].text, testing::HasSubstr("vantory --salvage"));
            continue;
        }
        EXPECT_EQ(outcome, StartOutcome::kReady);
        EXPECT_EQ(loaded.entries(), std::vector<CatalogueEntry>(catalogue.entries().begin(),
                                                                catalogue.entries().begin() +
                                                                    static_cast<long>(whole - 3)));
        EXPECT_TRUE(quiet.messages.empty());
    }
}

// A settings folder that cannot be made, or written (nor made private), is said once with its
// path, before any password is asked, and the start ends: settings it cannot keep would be lost.
TEST_F(StartupTest, aSettingsFolderThatCannotBeWrittenEndsTheStart) {
    for (const bool made : {false, true}) {
        SCOPED_TRACE(made);
        if (!made) {
            test::writeFile(dir / "config", "a file where the folder should be");
        } else {
            ASSERT_TRUE(platform::removeFile(dir / "config").ok());
            ASSERT_TRUE(platform::makeFolders(configDir, 0755).ok());
        }
        platform::setFaultHook([&](platform::Operation operation, std::string_view path, auto) {
            if (operation == platform::Operation::kAttributes) {
                return EPERM;
            }
            return operation == platform::Operation::kCreate && path.starts_with(configDir) ? EACCES
                                                                                            : 0;
        });
        ProgramState started;
        test::FakeUiServices fresh;
        EXPECT_EQ(PrepareStart(started, fresh), StartOutcome::kSettingsUnusable);
        platform::setFaultHook({});
        ASSERT_EQ(fresh.messages.size(), 1u);
        using testing::HasSubstr, testing::Not;
        EXPECT_THAT(fresh.messages[0].text,
                    AllOf(HasSubstr("The settings folder " + configDir + " cannot be " +
                                    (made ? "written" : "made")),
                          Not(HasSubstr("kumquat"))));
        EXPECT_FALSE(platform::pathExists(settingsFile));
    }
}

#if !defined(_WIN32)
// A settings folder open to others is made private, or the start says why it is not.
TEST_F(StartupTest, aSettingsFolderOpenToOthersIsMadePrivate) {
    ASSERT_TRUE(platform::makeFolders(configDir, 0755).ok());
    platform::setFaultHook([](platform::Operation op, auto, auto) {
        return op == platform::Operation::kAttributes ? EPERM : 0;
    });
    (void)PrepareStart(state, ui);
    platform::setFaultHook({});
    EXPECT_PERMISSIONS(configDir, 0755u);
    EXPECT_THAT(ui.messages.at(0).text, testing::HasSubstr(configDir +
                                                           " is open to other users, "
                                                           "and Vantory could not make it "
                                                           "private (" +
                                                           std::strerror(EPERM)));
    EXPECT_EQ(PrepareStart(state, ui), StartOutcome::kReady);
    EXPECT_PERMISSIONS(configDir, 0700u);
    EXPECT_EQ(ui.messages.size(), 2u) << "the folder, and the factory settings";
}
#endif

}  // namespace
}  // namespace vantory
