#include "commands/run_command.h"

#include <optional>

#include "command_fixture.h"
#include "commands/change_password.h"
#include "commands/restore_command.h"
#include "commands/storage_settings.h"
#include "platform/fault_injection.h"
#include "store/open_copies.h"

namespace vantory {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::Texts;
using test::writeFile;

class RunTest : public test::CommandTest {
  protected:
    bool start() override {
        run.emplace(context, [this](const std::string& text) { caption = text; });
        run->setWaitLimit(std::chrono::milliseconds(100));
        return CommandTest::start();
    }
    // Run Selected File with `selected` as the list's selection.
    void press(std::optional<size_t> selected = std::nullopt) { run->press(selected); }
    std::string temp(const std::string& ending) const { return dir / ("store/tempFile." + ending); }
    // The program ends while a file is open.
    void close() {
        run.reset();
        state.bolTempFileOpen = state.bolBusy = false;
    }

    std::optional<RunCommand> run;
    std::string caption = kRunCaption;
};

// A sealed entry is unsealed beside its stored file, which stays as it is; a plain entry's
// stored file itself becomes the temporary file and keeps what the application changed.
class RunBothTest : public RunTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(SealedAndPlain, RunBothTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Sealed" : "Plain"; });

TEST_P(RunBothTest, theEntryIsOpenedAsATemporaryFileAndPutBack) {
    const bool sealed = GetParam();
    hide("other.doc", "another", false);
    hide("notes.txt", "dear diary", sealed);
    open();
    press();  // nothing selected: nothing is opened
    EXPECT_TRUE(ui.openedWithApplication.empty());
    EXPECT_FALSE(run->waiting());
    press(1);

    const std::string tempFile = temp("txt");
    EXPECT_EQ(readFile(tempFile), "dear diary");
    EXPECT_EQ(fs::exists(StoredPath(state, 1)), sealed);
    if (sealed) {
        EXPECT_EQ(readFile(StoredPath(state, 1)), stored[1]);
        EXPECT_EQ(fs::status(tempFile).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
    }
    EXPECT_EQ(ui.openedWithApplication, std::vector<std::string>{tempFile});
    EXPECT_EQ(caption, kDeleteTemporaryCaption);
    EXPECT_TRUE(state.bolTempFileOpen);
    EXPECT_TRUE(state.bolBusy);
    EXPECT_TRUE(run->waiting());
    EXPECT_TRUE(ui.messages.empty());
    writeFile(tempFile, "final version");

    // A second press while a plain file is put back is ignored.
    bool pressedWhileDeleting = false;
    ui.onYield = [&] {
        pressedWhileDeleting = caption == kAttemptingDeleteCaption && run->deleting();
        press(1);
    };
    press(1);
    EXPECT_EQ(pressedWhileDeleting, !sealed);
    EXPECT_EQ(storageFolder(), (std::set<std::string>{"100.dat", "101.dat"}));
    EXPECT_EQ(readFile(StoredPath(state, 1)), sealed ? stored[1] : "final version");
    EXPECT_EQ(platform::getAttributes(StoredPath(state, 1)), 6);
    EXPECT_EQ(readFile(StoredPath(state, 0)), "another");
    EXPECT_EQ(caption, kRunCaption);
    EXPECT_EQ(onlyMessage(), "Temporary file deleted");
    expectIdle();
    EXPECT_EQ(state.intProgress, 1);
    EXPECT_EQ(state.intProgressTotal, 1);
}

// A plain file that cannot go back keeps the window waiting; a plaintext copy that cannot be
// deleted ends the wait but stays recorded, and no command that would leave it behind runs.
TEST_F(RunTest, aFileThatCannotGoBackIsKeptAndNothingLeavesItBehind) {
    hide("a.txt", "plain content", false);
    hide("b.txt", "sealed content", true);
    open();
    press(0);
    // The application still holds the file.
    platform::setFaultHook([](platform::Operation op, std::string_view from, auto) {
        return op == platform::Operation::kRename && from.ends_with("tempFile.txt") ? EBUSY : 0;
    });
    press(0);
    platform::setFaultHook({});
    EXPECT_EQ(readFile(temp("txt")), "plain content");
    EXPECT_TRUE(contains(onlyMessage(), "could not be moved back from " + temp("txt")));
    EXPECT_TRUE(state.bolTempFileOpen);
    EXPECT_TRUE(state.bolBusy);
    EXPECT_TRUE(run->waiting());
    press(0);
    EXPECT_EQ(readFile(StoredPath(state, 0)), "plain content");
    expectIdle();

    press(1);
    fs::remove(temp("txt"));
    fs::create_directories(temp("txt") + "/in-the-way");
    ui.messages.clear();
    press(1);
    EXPECT_TRUE(contains(onlyMessage(), "The temporary file " + temp("txt") + " could not be"));
    EXPECT_EQ(readFile(StoredPath(state, 1)), stored[1]);
    EXPECT_EQ(platform::getAttributes(StoredPath(state, 1)), 6);
    expectIdle();
    const std::pair<const char*, std::function<void()>> commands[] = {
        {"Restore All", [this] { RestoreAll(context); }},
        {"Set Storage Folder", [this] { SetStorageDirCommand(context); }},
        {"Set Extension", [this] { SetExtensionCommand(context); }},
        {"Change Password", [this] { ChangePassCommand(context); }},
    };
    for (const auto& [command, runIt] : commands) {
        ui.messages.clear();
        runIt();
        EXPECT_TRUE(contains(onlyMessage(), temp("txt") + "  (" + entries[1].path + ")"))
            << command;
    }
    EXPECT_EQ(saved(), entries);

    // A stored file gone behind the program's back: said so, and no waiting state.
    fs::remove_all(temp("txt"));
    ASSERT_TRUE(platform::removeFile(StoredPath(state, 1)).ok());
    ui.messages.clear();
    press(1);
    EXPECT_EQ(ui.openedWithApplication.size(), 2u);
    EXPECT_TRUE(contains(onlyMessage(), entries[1].path + " could not be opened"));
    expectIdle();
}

// Vantory closed while entries were open: the next start moves a plain entry's file back
// (and keeps it, listed, while it cannot), deletes a sealed entry's copy, and keeps aside an
// unrecorded file that two plain entries without stored files could own. Each is said.
TEST_F(RunTest, theNextStartDealsWithWhatWasLeftOpen) {
    hide("letter.html", "plain letter", false);
    hide("x/ab", "sealed photo", true);
    hide("x/one.doc", "first", false);
    hide("y/two.doc", "second", false);
    open();
    press(0);
    close();
    // The application still holds the file: it cannot be moved back at the next start.
    platform::setFaultHook([](platform::Operation op, std::string_view from, auto) {
        return op == platform::Operation::kRename && from.ends_with("tempFile.tml") ? EBUSY : 0;
    });
    ui.messages.clear();
    open();
    EXPECT_TRUE(contains(onlyMessage(), "could not be moved back from " + temp("tml")));
    EXPECT_EQ(listedPaths().size(), 4u);
    press(1);  // runs, and leaves the plain file alone
    EXPECT_EQ(readFile(temp("_ab")), "sealed photo");
    EXPECT_EQ(readFile(temp("tml")), "plain letter");
    platform::setFaultHook({});
    close();
    ASSERT_TRUE(platform::renamePath(StoredPath(state, 2), temp("doc")).ok());
    ASSERT_TRUE(platform::removeFile(StoredPath(state, 3)).ok());
    ui.messages.clear();
    open();

    const std::string kept = dir / "store/kept-1-tempFile.doc";
    EXPECT_EQ(storageFolder(),
              (std::set<std::string>{"100.dat", "101.dat", "kept-1-tempFile.doc"}));
    EXPECT_EQ(readFile(StoredPath(state, 0)), "plain letter");
    EXPECT_EQ(readFile(StoredPath(state, 1)), stored[1]);
    EXPECT_EQ(readFile(kept), "first");
    EXPECT_FALSE(fs::exists(OpenCopiesPath(state)));
    ASSERT_EQ(ui.messages.size(), 4u);  // the last one: the store check drops the two .doc entries
    const Texts says{entries[0].path + " was open. Its stored file has been put back",
                     entries[1].path + " was open. The copy that was open, " + temp("_ab") +
                         ", has been deleted",
                     "It has been kept as " + kept};
    for (size_t i = 0; i < says.size(); ++i) {
        EXPECT_TRUE(contains(ui.messages[i].text, says[i])) << ui.messages[i].text;
    }
    EXPECT_EQ(listedPaths(), (Texts{entries[0].path, entries[1].path}));
}

}  // namespace
}  // namespace vantory
