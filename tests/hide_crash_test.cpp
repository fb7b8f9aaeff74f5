// A process killed in the middle of hiding files, or of the store check's renumbering, must
// leave every file either where it was or listed with a stored file that gives it back.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>

#include "main/hide_command.h"
#include "main/recovery.h"
#include "main/store_check.h"
#include "store/move_journal.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"

namespace vantory {
namespace {

struct NoWindow : BusyState {
    void OpRunning(bool) override {}
};

// Kills its own process at the `killAt`-th turn of the wait cursor (on or off); every move
// of a file into storage turns it on just before and off just after.
class KillingUi : public test::FakeUiServices {
  public:
    explicit KillingUi(int killAt) : killAt_(killAt) {}
    void setWaitCursor(bool on) override {
        FakeUiServices::setWaitCursor(on);
        if (++turns_ == killAt_) {
            ::raise(SIGKILL);
        }
    }

  private:
    int killAt_;
    int turns_ = 0;
};

// Runs `work` in a child process. True when the child was killed, false when it ran to
// its end.
bool killedWhile(const std::function<void()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        work();
        ::_exit(0);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    if (WIFSIGNALED(status)) {
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
        return true;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return false;
}

class CrashTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(test::settleUser(dir, state));
        ASSERT_TRUE(platform::makeFolder(dir / "home").ok());
    }

    // What the next start does: read the settings and the catalogue, finish interrupted
    // work, check the store.
    Catalogue restart() {
        ProgramState fresh;
        EXPECT_TRUE(GetSysDir(fresh).ok());
        EXPECT_TRUE(ReadSettings(fresh, ui).ok());
        Catalogue catalogue;
        EXPECT_TRUE(loadList(fresh, catalogue, ui).ok());
        NoWindow busy;
        CommandContext context{fresh, ui, catalogue, busy};
        RecoverInterruptedWork(context);
        (void)ErrorRemoveFiles(context);
        state = fresh;
        return catalogue;
    }

    // Every file is in its place or listed with a stored file that restores to it; every
    // entry has its stored file.
    void expectNothingLost(const Catalogue& catalogue,
                           const std::map<std::string, std::string>& files) {
        std::map<std::string, int> listed;
        for (size_t p = 0; p < catalogue.size(); ++p) {
            const CatalogueEntry& entry = catalogue.at(p);
            ASSERT_TRUE(files.count(entry.path)) << entry.path;
            ++listed[entry.path];
            const std::string out = dir / "restored";
            ASSERT_TRUE(decryptFileCopy(state, ui, StoredPath(state, p), out, entry.sealed).ok())
                << entry.path;
            EXPECT_EQ(test::readFile(out), files.at(entry.path)) << entry.path;
            // Put it back as it was stored, for the next check.
            ASSERT_TRUE(encryptFileCopy(state, ui, out, StoredPath(state, p), entry.sealed).ok());
        }
        for (const auto& [path, content] : files) {
            if (listed.count(path) == 0) {
                EXPECT_EQ(test::readFile(path), content) << path << " is lost";
            }
        }
    }

    test::TempFolder dir;
    test::FakeUiServices ui;
    ProgramState state;
};

TEST_F(CrashTest, aPlainHideKilledAtAnyStepLosesNoFile) {
    int kills = 0;
    for (int killAt = 1;; ++killAt) {
        SCOPED_TRACE("killed at turn " + std::to_string(killAt));
        test::TempFolder round;
        round.useAsConfigHome();
        ASSERT_TRUE(GetSysDir(state).ok());
        ASSERT_TRUE(SetStorageDir(state, round / "store/").ok());
        state.bolEncrypt = false;
        state.bolSlowRun = false;
        std::map<std::string, std::string> files;
        std::vector<std::string> paths;
        for (int i = 0; i < 3; ++i) {
            const std::string path = round / ("file" + std::to_string(i));
            files[path] = "content " + std::to_string(i);
            test::writeFile(path, files[path]);
            paths.push_back(path);
        }
        ASSERT_TRUE(saveList(state, {}, ui).ok());

        const bool killed = killedWhile([&] {
            KillingUi dying(killAt);
            Catalogue catalogue;
            NoWindow busy;
            CommandContext context{state, dying, catalogue, busy};
            (void)HideSelection(context, paths);
        });
        expectNothingLost(restart(), files);
        if (!killed) {
            break;
        }
        ++kills;
    }
    EXPECT_EQ(kills, 6) << "each of the three moves, just before and just after";
}

TEST_F(CrashTest, aStoreCheckKilledDuringItsRenumberingLosesNoEntry) {
    const size_t count = 6;
    const std::vector<size_t> gone = {1, 3};
    int kills = 0;
    for (int killAt = 1;; ++killAt) {
        SCOPED_TRACE("killed at step " + std::to_string(killAt));
        test::TempFolder round;
        round.useAsConfigHome();
        ASSERT_TRUE(GetSysDir(state).ok());
        ASSERT_TRUE(SetStorageDir(state, round / "store/").ok());
        std::map<std::string, std::string> files;
        Catalogue catalogue;
        for (size_t i = 0; i < count; ++i) {
            const std::string path = round / ("file" + std::to_string(i));
            const std::string content = "content " + std::to_string(i);
            test::writeFile(path, content);
            ASSERT_TRUE(encryptFileCopy(state, ui, path, StoredPath(state, i), i % 2 == 0).ok());
            catalogue.append({path, i % 2 == 0});
            if (std::find(gone.begin(), gone.end(), i) == gone.end()) {
                files[path] = content;
            }
            if (i % 2 != 0 || std::find(gone.begin(), gone.end(), i) != gone.end()) {
                (void)::unlink(path.c_str());  // moved, or lost with its stored file
            }
        }
        ASSERT_TRUE(saveList(state, catalogue, ui).ok());
        for (const size_t i : gone) {
            ASSERT_EQ(::unlink(StoredPath(state, i).c_str()), 0);
        }

        // Steps: before each of the three moves, and after the last one.
        const bool killed = killedWhile([&] {
            int step = 0;
            const MoveFunction dying = [&](const std::string& from, const std::string& to) {
                if (++step == killAt) {
                    ::raise(SIGKILL);
                }
                const Status moved = platform::movePath(from, to);
                if (step == 3 && killAt == 4) {
                    ::raise(SIGKILL);
                }
                return moved;
            };
            Catalogue loaded;
            EXPECT_TRUE(loadList(state, loaded, ui).ok());
            NoWindow busy;
            CommandContext context{state, ui, loaded, busy};
            (void)ErrorRemoveFiles(context, dying);
        });
        const Catalogue after = restart();
        EXPECT_EQ(after.size(), count - gone.size());
        expectNothingLost(after, files);
        if (!killed) {
            break;
        }
        ++kills;
    }
    EXPECT_EQ(kills, 4);
}

}  // namespace
}  // namespace vantory
