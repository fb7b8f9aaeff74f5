// Each long command, in a child process killed just before its n-th change to the disk for
// every n; the next start must find every file back, nothing listed twice or in the clear.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <set>

#include "main/recovery.h"
#include "main/run_command.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "store/stored_name.h"
#include "support/command_scenarios.h"

namespace vantory::test {
namespace {

// No command takes anywhere near this many steps; a loop that gets here is stuck.
constexpr int kMostKillPoints = 1000;

enum class End { kKilled, kAchieved, kNotAchieved };

// Runs the command in a child process that kills itself before its `killAt`-th change.
End runKilledAt(Scenario& scenario, const CommandCase& command, int killAt) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::atomic<int> changes{0};
        platform::setFaultHook([&changes, killAt](platform::Operation operation, std::string_view,
                                                  std::string_view) {
            if (operation == platform::Operation::kRead) {
                return 0;  // a read changes nothing: a kill there is a kill after the last change
            }
            if (changes.fetch_add(1) + 1 == killAt) {
                ::kill(::getpid(), SIGKILL);
            }
            return 0;
        });
        ProgramState state = scenario.state;
        Catalogue catalogue = scenario.catalogue;
        FakeUiServices ui;
        FakeBusy busy;
        CommandContext context{state, ui, catalogue, busy};
        command.run(scenario, ui, context);
        platform::setFaultHook({});
        ::_exit(command.achieved(scenario, state, catalogue) ? 0 : 1);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
        return End::kKilled;
    }
    EXPECT_TRUE(WIFEXITED(status)) << "the child ended with status " << status;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? End::kAchieved : End::kNotAchieved;
}

// The command's case, and whether the first start after the kill finds no storage folder.
class CrashTest : public ::testing::TestWithParam<std::tuple<CommandCase, bool>> {};

TEST_P(CrashTest, aKillAtAnyChangeToTheDiskLosesNothing) {
    const auto& [command, storageAway] = GetParam();
    int kills = 0;
    for (int killAt = 1;; ++killAt) {
        SCOPED_TRACE(command.name + ", killed before change " + std::to_string(killAt));
        ASSERT_LT(killAt, kMostKillPoints) << "the command never got through";
        Scenario scenario;
        command.setup(scenario);
        const End end = runKilledAt(scenario, command, killAt);
        std::vector<FakeUiServices::Message> away;
        if (storageAway && platform::isFolder(scenario.storageFolder())) {
            ASSERT_NO_FATAL_FAILURE(unplugStorage(scenario));
            away = freshStart().messages;
            ASSERT_NO_FATAL_FAILURE(plugStorageBackIn(scenario));
        }
        const Start start = freshStart();
        const bool held = expectNothingLost(scenario, start);
        if (command.startSays && !storageAway) {
            command.startSays(scenario, start);
        }
        for (const auto& message : held ? decltype(away)() : away) {
            ADD_FAILURE() << "the start without the storage folder said: " << message.text;
        }
        ASSERT_TRUE(held) << "stopping at the first kill that lost something";
        if (end != End::kKilled) {
            EXPECT_EQ(end, End::kAchieved) << "the command, not killed, did not do its work";
            EXPECT_EQ(start.catalogue.size(), scenario.expectedEntries);
            // Run Selected File ends with the file still open: the start deletes its copy.
            if (!storageAway) {
                EXPECT_EQ(start.messages.size(), command.name.rfind("run ", 0) == 0 ? 1u : 0u);
            }
            break;
        }
        ++kills;
    }
    std::cout << "[ kill points ] " << command.name << ": " << kills << std::endl;
    RecordProperty("kill_points", kills);
    EXPECT_GE(kills, 5) << "every command changes the disk more often than this";
}

// Run Selected File unseals a hidden file into the storage folder; a kill while it does so,
// or while the file is open, must not leave the content there in the clear.
CommandCase runSelectedFile() {
    return {"run selected file, then closed",
            [](Scenario& s) {
                s.hide(s.addFile("plain to run.pdf", 700), false);
                s.hide(s.addFile("sealed to run.odt", 5000), true);
                s.save();
                s.expectedEntries = 2;
            },
            [](Scenario&, FakeUiServices&, CommandContext& context) {
                // Both entries are opened in turn; the program ends while the second is open.
                RunCommand run(context, [](const std::string&) {});
                run.press(0);
                run.press(0);
                run.press(1);
            },
            [](const Scenario&, const ProgramState& state, const Catalogue&) {
                return platform::pathExists(TempName(state, "sealed to run.odt"));
            }};
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<CommandCase, bool>>& info) {
    return identifier(std::get<0>(info.param).name) +
           (std::get<1>(info.param) ? "__storage_folder_away_at_the_next_start" : "");
}

INSTANTIATE_TEST_SUITE_P(LongCommands, CrashTest,
                         ::testing::Combine(::testing::ValuesIn(longCommands()), ::testing::Bool()),
                         caseName);
INSTANTIATE_TEST_SUITE_P(RunSelectedFile, CrashTest,
                         ::testing::Combine(::testing::Values(runSelectedFile()),
                                            ::testing::Values(false)),
                         caseName);

// What a write cut short leaves is deleted at the next start, and nothing else is: not a
// file of the user's that only looks like one, nor one in a folder Vantory does not write to.
TEST(StrayTemporariesTest, onlyUnfinishedFilesOfVantorysOwnAreDeletedAtStart) {
    Scenario scenario;
    const std::string entry = scenario.addFile("docs/report.odt", 100);
    scenario.hide(entry, true);
    scenario.save();
    const std::string docs = scenario.root / "home/docs/";
    const std::string store = scenario.state.strStorageDir;
    const std::string settings = scenario.state.strSystemDir + "/";
    const std::vector<std::string> stray = {
        docs + ".report.odt.vantory-a1B2c3",                     // a restore of the entry
        store + ".100.txt.vantory-Zz9yY8",                       // a stored file
        store + ".tempFile.odt.vantory-000000",                  // Run Selected File's copy
        store + ".101.txt.vantory-rekey-AAAAAA.vantory-BBBBBB",  // a change of password
        settings + ".regInfo.lst.vantory-q1w2e3",                // the settings file
        settings + ".regInfo.moves.vantory-r4t5y6",
        settings + ".vantory.conf.vantory-u7i8o9",  // the window's own settings
    };
    const std::vector<std::string> kept = {
        docs + ".letter.odt.vantory-a1B2c3",  // not an entry's name
        docs + ".report.odt.vantory-a1B2c",   // not the temporary name
        docs + ".report.odt.vantory-a1B2c!",
        docs + "report.odt.vantory-a1B2c3",
        store + ".notes.vantory-a1B2c3",                    // not a name Vantory writes there
        scenario.root / "home/.report.odt.vantory-a1B2c3",  // no entry in that folder
    };
    for (const std::string& path : stray) {
        writeFile(path, "half");
    }
    for (const std::string& path : kept) {
        writeFile(path, "mine");
    }
    // A link and a folder under a temporary name are not files being written.
    ASSERT_EQ(::symlink(entry.c_str(), (store + ".102.txt.vantory-l1n2k3").c_str()), 0);
    ASSERT_EQ(::mkdir((store + ".103.txt.vantory-f0ld3r").c_str(), 0700), 0);

    FakeUiServices ui;
    FakeBusy busy;
    ProgramState state = scenario.state;
    Catalogue catalogue = scenario.catalogue;
    CommandContext context{state, ui, catalogue, busy};
    const std::vector<std::string> removed = RemoveStrayTemporaries(context);

    EXPECT_EQ(std::set<std::string>(removed.begin(), removed.end()),
              std::set<std::string>(stray.begin(), stray.end()));
    for (const std::string& path : stray) {
        EXPECT_FALSE(platform::pathExists(path)) << path;
    }
    for (const std::string& path : kept) {
        EXPECT_EQ(readFile(path), "mine") << path;
    }
    EXPECT_TRUE(platform::isSymbolicLink(store + ".102.txt.vantory-l1n2k3"));
    EXPECT_TRUE(platform::isFolder(store + ".103.txt.vantory-f0ld3r"));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].style, UiServices::kInformation);
    EXPECT_NE(ui.messages[0].text.find(docs + ".report.odt.vantory-a1B2c3"), std::string::npos);

    // Nothing left: nothing to say.
    FakeUiServices again;
    CommandContext nextContext{state, again, catalogue, busy};
    EXPECT_TRUE(RemoveStrayTemporaries(nextContext).empty());
    EXPECT_TRUE(again.messages.empty());
}

}  // namespace
}  // namespace vantory::test
