// Each long command, killed before its n-th change to the disk (every n) or let down by the
// disk, says in words what it did not do, and the next start loses nothing and leaks nothing.

#include <gtest/gtest.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <set>

#include "main/change_password.h"
#include "main/hide_command.h"
#include "main/recovery.h"
#include "main/restore_command.h"
#include "main/run_command.h"
#include "main/storage_settings.h"
#include "main/store_check.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"

namespace vantory::test {
namespace {

namespace fs = std::filesystem;
using platform::Operation;
using Message = FakeUiServices::Message;
constexpr auto npos = std::string::npos;

constexpr const char* kOldPassword = "old secret";

// Sealing takes buffers of a few MiB for every file. Kept in the heap rather than mapped
// afresh each time, they cost no page faults, which are most of the time these tests take.
const bool buffersInTheHeap =
    ::mallopt(M_MMAP_THRESHOLD, 64 << 20) == 1 && ::mallopt(M_TRIM_THRESHOLD, 256 << 20) == 1;

// The commands flush every file they finish; in memory that costs nothing, and a killed
// process leaves the same files behind wherever they are.
std::string scenarioBase() {
    const bool shm = platform::isFolder("/dev/shm") && ::access("/dev/shm", W_OK | X_OK) == 0;
    return shm ? "/dev/shm" : fs::temp_directory_path().string();
}

// One private world: the settings name the password "old secret", the storage folder
// <root>/store/ and the extension "txt"; XDG_CONFIG_HOME points into <root>. Five entries
// (sealed, plain, sealed, plain, sealed) are there, under two folders.
struct Scenario {
    Scenario() : root(scenarioBase()) {
        root.useAsConfigHome();
        EXPECT_TRUE(GetSysDir(state).ok());
        SetPassword(state, kOldPassword);
        SetExtension(state, "txt");
        EXPECT_TRUE(SetStorageDir(state, root / "store/").ok());
        for (size_t i = 0; i < 5; ++i) {
            const std::string name = (i % 2 == 0 ? "docs/entry " : "entry ") + std::to_string(i);
            hide(addFile(name + ".odt", 700 + 300 * i), i % 2 == 0);
        }
        save();
    }

    // A new file of the user's under <root>/home/, with content unlike any other's.
    std::string addFile(const std::string& name, size_t size) {
        const std::string path = root / ("home/" + name);
        fs::create_directories(fs::path(path).parent_path());
        std::string content = path + "\n";
        for (size_t i = 0; content.size() < size; ++i) {
            content += static_cast<char>((i * 131 + files.size() * 17) % 256);
        }
        content.resize(std::max<size_t>(size, 1));
        content[0] = static_cast<char>('A' + files.size());
        writeFile(path, content);
        files[path] = content;
        return path;
    }
    // Hides the file as the next entry; the original of a sealed one is then deleted.
    void hide(const std::string& path, bool sealed) {
        const std::string stored = StoredPath(state, catalogue.size());
        EXPECT_TRUE(encryptFileCopy(state, setupUi, path, stored, sealed).ok());
        EXPECT_TRUE(!sealed || ::unlink(path.c_str()) == 0);
        catalogue.append({path, sealed});
    }
    void save() { EXPECT_TRUE(saveList(state, catalogue, setupUi).ok()); }
    std::string storageFolder() const {
        return state.strStorageDir.substr(0, state.strStorageDir.find_last_not_of('/') + 1);
    }
    // What the list holds once the command has done its work.
    size_t expectedEntries() const {
        return catalogue.size() + toHide.size() - selected.size() - lost.size();
    }

    TempFolder root;
    FakeUiServices setupUi;
    ProgramState state;
    Catalogue catalogue;
    std::map<std::string, std::string> files;  // every file the user has, with its content
    std::set<std::string> lost;  // gone for reasons outside the program, with their storage
    // Where the scenarios are in /dev/shm, the temporary folder is another file system.
    TempFolder elsewhere{fs::temp_directory_path().string()};
    std::string tooLarge;  // a file too large for a disk with kFullDiskLimit bytes free

    // What the command is asked to do.
    std::vector<std::string> toHide;
    std::vector<size_t> selected;
    std::string newValue;  // the new password, extension or storage folder
};

// The storage folder goes away as a drive that is not connected, and comes back: what was
// put meanwhile in a new folder under its name joins it again.
void unplugStorage(Scenario& s) {
    ASSERT_TRUE(platform::renamePath(s.storageFolder(), s.root / "unplugged").ok());
}

void plugStorageBackIn(Scenario& s) {
    fs::create_directories(s.storageFolder());
    for (const auto& file : fs::directory_iterator(s.root / "unplugged")) {
        const std::string to = s.storageFolder() + "/" + file.path().filename().string();
        ASSERT_FALSE(platform::pathExists(to)) << to;
        ASSERT_TRUE(platform::renamePath(file.path().string(), to).ok());
    }
    fs::remove(s.root / "unplugged");
}

std::optional<ProgramState> savedSettings(const ProgramState& state) {
    ProgramState saved;
    saved.strSystemDir = state.strSystemDir;
    FakeUiServices ui;
    return ReadSettings(saved, ui).ok() ? std::optional(saved) : std::nullopt;
}

bool listed(const Catalogue& catalogue, const std::string& path) {
    return std::ranges::any_of(catalogue.entries(), [&](const auto& e) { return e.path == path; });
}

bool inPlace(const Scenario& s, const std::string& path) {
    return platform::readWholeFile(path) == s.files.at(path);
}

// What the next start finds: the settings read, the catalogue loaded, interrupted work
// finished and the store checked, as the main window's load does.
struct Start {
    ProgramState state;
    Catalogue catalogue;
    std::vector<Message> messages;
    std::string loginPassword;  // as read, before interrupted work was finished
    bool passwordRecordFound = false;
};

Start freshStart() {
    Start start;
    FakeUiServices ui;
    FakeBusy busy;
    EXPECT_TRUE(GetSysDir(start.state).ok());
    const Status read = ReadSettings(start.state, ui);
    EXPECT_TRUE(read.ok()) << "regInfo.lst cannot be read: " << read.message();
    EXPECT_TRUE(loadList(start.state, start.catalogue, ui).ok());
    start.loginPassword = start.state.strPassword;
    start.passwordRecordFound = platform::pathExists(PasswordChangeRecordPath(start.state));
    start.state.bolSlowRun = true;
    CommandContext context{start.state, ui, start.catalogue, busy};
    RecoverInterruptedWork(context);
    (void)ErrorRemoveFiles(context);
    start.messages = ui.messages;
    return start;
}

// Every file the user had is in its place with its content, or listed once with a stored
// file at attributes 7 that gives that content back; no temporary file, unsealed copy or
// record of unfinished work is left, nor a user's content anywhere but in its place or its
// plain stored file.
void expectNothingLost(const Scenario& s, const Start& start) {
    TempFolder scratch;
    std::set<std::string> seen;
    std::map<std::string, std::string> plainStored;  // stored path -> original path
    for (size_t p = 0; p < start.catalogue.size(); ++p) {
        const CatalogueEntry& entry = start.catalogue.at(p);
        const std::string stored = StoredPath(start.state, p);
        if (s.files.count(entry.path) == 0 || !seen.insert(entry.path).second) {
            ADD_FAILURE() << "listed twice, or never the user's: " << entry.path;
            continue;
        }
        if (!entry.sealed) {
            plainStored[stored] = entry.path;
        }
        if (s.lost.count(entry.path) != 0) {
            continue;  // still listed while its stored file is gone
        }
        std::optional<std::string> content = platform::readWholeFile(stored);
        if (entry.sealed) {
            const bool unsealed =
                unsealFile(stored, scratch / "unsealed", start.state.strPassword).ok();
            content = unsealed ? platform::readWholeFile(scratch / "unsealed") : std::nullopt;
        }
        EXPECT_EQ(platform::getAttributes(stored), platform::kStoredAttributes) << stored;
        EXPECT_TRUE(content == s.files.at(entry.path))
            << "the stored file " << stored << " does not give back " << entry.path;
    }
    for (const auto& [path, content] : s.files) {
        const bool there = platform::pathExists(path);
        EXPECT_TRUE(s.lost.count(path) != 0 || (there ? inPlace(s, path) : seen.count(path) != 0))
            << path << (there ? " is in its place with content not its own" : " is lost");
    }
    for (const std::string& folder : {s.root.path(), s.elsewhere.path()}) {
        for (const fs::directory_entry& found : fs::recursive_directory_iterator(folder)) {
            const std::string path = found.path().string();
            const std::string name = found.path().filename().string();
            EXPECT_FALSE(platform::atomicFileTarget(name) || name.find(".vantory-") != npos ||
                         name.rfind("tempFile.", 0) == 0)
                << "a temporary file or unsealed copy is left: " << path;
            EXPECT_TRUE(found.path().parent_path() != start.state.strSystemDir ||
                        name == kSettingsFileName)
                << "a record of unfinished work is left: " << path;
            if (!fs::is_regular_file(found.symlink_status())) {
                continue;
            }
            const auto content = platform::readWholeFile(path);
            const auto plain = plainStored.find(path);
            for (const auto& [original, bytes] : s.files) {
                EXPECT_FALSE(content == bytes && path != original &&
                             (plain == plainStored.end() || plain->second != original))
                    << "the content of " << original << " is left in the clear as " << path;
            }
        }
    }
}

using Judge = std::function<bool(const Scenario&, const ProgramState&, const Catalogue&)>;

// A long command as its click handler runs it; its dialogs answer with the scenario's
// toHide and newValue.
struct CommandCase {
    std::string name;
    std::function<void(Scenario&)> setup;
    std::function<void(const Scenario&, CommandContext&)> run;
    // Whether the command did all it was asked, judged from the state in memory and the disk.
    Judge achieved;
    // What a start after the command was cut short must tell, if anything.
    std::function<void(const Scenario&, const Start&)> startSays = nullptr;
    // While the storage folder cannot be found it does nothing, and says so.
    bool needsStorage = true;
};

// The list, in memory and on disk, has the expected entries: every file of toHide, and none
// of the selected entries, whose files are back in their place.
bool listDone(const Scenario& s, const ProgramState& state, const Catalogue& catalogue) {
    const bool hidden =
        std::ranges::all_of(s.toHide, [&](const auto& p) { return listed(catalogue, p); });
    const bool restored = std::ranges::none_of(s.selected, [&](size_t p) {
        const std::string& path = s.catalogue.at(p).path;
        return listed(catalogue, path) || !inPlace(s, path);
    });
    const auto saved = savedSettings(state);
    Catalogue loaded;
    FakeUiServices ui;
    return hidden && restored && catalogue.size() == s.expectedEntries() && saved &&
           loadList(*saved, loaded, ui).ok() && loaded == catalogue;
}

// The setting is the new value, in memory and on disk.
Judge newSetting(std::string ProgramState::*field) {
    return [field](const Scenario& s, const ProgramState& state, const Catalogue&) {
        const auto saved = savedSettings(state);
        return state.*field == s.newValue && saved && (*saved).*field == s.newValue;
    };
}

CommandCase hideCase(const std::string& name, bool sealed) {
    const auto setup = [sealed](Scenario& s) {
        // Sealed, the second picked file grows by a third, past a full disk's room.
        s.toHide = {s.addFile("new/one", 1),
                    s.addFile("new/two", sealed ? 3 * kFullDiskLimit / 4 + 1000 : 4000),
                    s.addFile("three", 9000)};
        s.tooLarge = sealed ? s.toHide[1] : "";
        s.state.bolEncrypt = sealed;
    };
    return {name, setup, [](const Scenario&, CommandContext& c) { (void)AddFiles(c); }, listDone};
}

CommandCase restoreCase(const std::string& name, std::vector<size_t> selected) {
    const auto setup = [selected](Scenario& s) { s.selected = selected; };
    const auto run = [](const Scenario& s, CommandContext& c) {
        (void)RestoreSelected(c, static_cast<int>(s.selected.front()), s.selected);
    };
    return {name, setup, run, listDone, nullptr, false};
}

CommandCase storageMove(const std::string& name, bool otherFileSystem) {
    const auto setup = [otherFileSystem](Scenario& s) {
        s.newValue = (otherFileSystem ? s.elsewhere : s.root) / "new store/";
    };
    return {name, setup, [](const Scenario&, CommandContext& c) { (void)SetStorageDirCommand(c); },
            newSetting(&ProgramState::strStorageDir)};
}

// Whether the new password or the old one is in use, the start says which.
void changeOfPasswordIsTold(const Scenario& s, const Start& start) {
    const auto saved = savedSettings(start.state);
    EXPECT_TRUE(saved && saved->strPassword == start.state.strPassword)
        << "regInfo.lst names the password in use";
    const bool switched =
        start.loginPassword == kOldPassword && start.state.strPassword == s.newValue;
    if (switched || (start.passwordRecordFound && start.state.strPassword == kOldPassword)) {
        const std::string title = switched ? "Password changed" : "Password not changed";
        EXPECT_TRUE(
            std::ranges::any_of(start.messages, [&](const auto& m) { return m.title == title; }))
            << "the start does not say: " << title;
    }
}

std::vector<CommandCase> longCommands() {
    return {
        hideCase("hide_sealed", true),
        hideCase("hide_plain", false),
        restoreCase("restore_the_first_sealed_and_a_plain_entry", {0, 3}),
        restoreCase("restore_a_plain_and_the_last_sealed_entry", {1, 4}),
        {"restore_all",
         [](Scenario& s) {
             // Not the last entry: those after it are restored all the same.
             s.tooLarge = s.addFile("large", kFullDiskLimit + 1000);
             s.hide(s.tooLarge, true);
             s.hide(s.addFile("after the large one", 900), false);
             s.save();
             s.selected = {0, 1, 2, 3, 4, 5, 6};
         },
         [](const Scenario&, CommandContext& c) { (void)RestoreAll(c); }, listDone, nullptr, false},
        {"change_of_password", [](Scenario& s) { s.newValue = "new secret"; },
         [](const Scenario&, CommandContext& c) { ChangePassCommand(c); },
         // A record that could not be removed is finished at the next start.
         newSetting(&ProgramState::strPassword), changeOfPasswordIsTold},
        storageMove("storage_folder_move", false),
        {"extension_change", [](Scenario& s) { s.newValue = "dat"; },
         [](const Scenario&, CommandContext& c) { (void)SetExtensionCommand(c); },
         newSetting(&ProgramState::strExtension)},
        {"store_check",
         [](Scenario& s) {
             // A plain and a sealed entry lose their stored files, their only copies.
             for (const size_t gone : {1, 4}) {
                 EXPECT_EQ(::unlink(StoredPath(s.state, gone).c_str()), 0);
                 s.lost.insert(s.catalogue.at(gone).path);
             }
         },
         [](const Scenario&, CommandContext& c) { (void)ErrorRemoveFiles(c); }, listDone},
        // Run Selected File unseals into the storage folder.
        {"run_selected_file_then_closed", [](Scenario&) {},
         [](const Scenario&, CommandContext& c) {
             // A plain entry is opened and closed, then a sealed one.
             RunCommand run(c, [](const std::string&) {});
             run.setWaitLimit(std::chrono::milliseconds(0));
             for (const size_t position : {1, 0}) {
                 run.press(position);
                 if (run.waiting()) {
                     run.press(position);
                 }
             }
         },
         listDone, nullptr, false},
        storageMove("storage_folder_move_to_another_file_system", true),
    };
}

// Counts, in the process that runs the command, what an event's hook saw and what it did.
std::atomic<int> seen{0};
std::atomic<int> hits{0};

// What goes wrong while a command runs. A stepped event is tried at step 1, 2, ... in turn,
// until a run where it no longer happens; the command must then have done all its work.
struct Event {
    std::string name;
    bool stepped = false;
    // Returns the errno the operation (on `path`, and `other`) fails with, 0 to let it go.
    std::function<int(const Scenario&, int step, Operation, std::string_view path,
                      std::string_view other)>
        hook = nullptr;
    // Before the command, and after it, before the next start.
    std::function<void(Scenario&)> before = [](Scenario&) {};
    std::function<void(Scenario&)> after = [](Scenario&) {};
    // What it must have told, beyond the plain words every failed command owes.
    std::function<void(const CommandCase&, const Scenario&, const std::vector<Message>&,
                       const Start&)>
        expect = nullptr;
    bool kills = false;           // the hook kills the process: the command runs in a child
    bool realFullDisk = false;    // at most kFullDiskLimit bytes in any file the command writes
    bool startAway = false;       // the first start after it finds no storage folder
    bool thenRestoreAll = false;  // restore all follows in the same session
};

// Every operation in the settings folder, or in the storage folder, fails with `error`.
Event refusingFolder(const std::string& name, bool settings, int error) {
    return {name, false,
            [settings, error](const Scenario& s, int, Operation op, std::string_view path,
                              std::string_view other) {
                const std::string where = settings ? s.state.strSystemDir : s.storageFolder();
                const bool in = path.starts_with(where + '/') || other.starts_with(where + '/');
                return op != Operation::kRead && in ? error : 0;
            }};
}

// The second picked file, or the stored file of the first entry the command works on; and
// the file of the user's that goes with it.
std::pair<std::string, std::string> doomed(const Scenario& s) {
    if (!s.toHide.empty()) {
        return {s.toHide[1], s.toHide[1]};
    }
    const size_t position = s.selected.empty() ? 0 : s.selected.front();
    return {StoredPath(s.state, position), s.catalogue.at(position).path};
}

// On a real full disk the file too large for it is named in the one message, and stays as
// it was while the others are done.
void tooLargeIsNamed(const CommandCase&, const Scenario& s, const std::vector<Message>& told,
                     const Start& start) {
    if (s.tooLarge.empty()) {
        return;
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].style, UiServices::kExclamation);
    EXPECT_NE(told[0].text.find(s.tooLarge), npos) << told[0].text;
    const bool stays = listed(s.catalogue, s.tooLarge);
    EXPECT_EQ(listed(start.catalogue, s.tooLarge), stays);
    EXPECT_EQ(start.catalogue.size(), s.expectedEntries() + (stays ? 1 : -1));
}

std::vector<Event> events() {
    std::vector<Event> list = {
        {"full_disk", true,
         [](const Scenario&, int step, Operation op, auto, auto) {
             // From the step-th allocation on, the disk is full.
             const bool allocates = op == Operation::kCreate || op == Operation::kWrite ||
                                    op == Operation::kFlush || op == Operation::kMakeFolder;
             return allocates && ++seen >= step ? ENOSPC : 0;
         }},
        {"IO_error", true,
         [](const Scenario&, int step, auto...) { return ++seen == step ? EIO : 0; }},
        refusingFolder("read_only_storage_folder", false, EROFS),
        refusingFolder("storage_folder_without_write_permission", false, EACCES),
        refusingFolder("settings_folder_without_write_permission", true, EACCES),
        {.name = "storage_folder_unplugged",
         .before = unplugStorage,
         .after = plugStorageBackIn,
         .expect =
             [](const CommandCase& command, const Scenario& s, const std::vector<Message>& told,
                const Start&) {
                 EXPECT_TRUE(!command.needsStorage || told.size() == 1) << "it said nothing";
                 for (const Message& message : told) {
                     EXPECT_NE(message.text.find(s.storageFolder()), npos) << message.text;
                     EXPECT_TRUE(!command.needsStorage ||
                                 message.text.find(s.state.strStorageDir + " cannot be found") !=
                                     npos)
                         << message.text;
                 }
             }},
        // Someone else deletes it as the command starts.
        {.name = "source_gone_after_it_was_picked",
         .hook =
             [](const Scenario& s, auto...) {
                 if (seen++ == 0) {
                     ++hits;
                     ::unlink(doomed(s).first.c_str());
                 }
                 return 0;
             },
         .before = [](Scenario& s) { s.lost.insert(doomed(s).second); }},
    };
    for (size_t i = 0, n = list.size(); i < n; ++i) {
        list.push_back(list[i]);
        list.back().name += "_then_restore_all";
        list.back().thenRestoreAll = true;
    }
    list.push_back({.name = "real_full_disk", .expect = tooLargeIsNamed, .realFullDisk = true});
    list.push_back({.name = "killed", .stepped = true, .kills = true});
    list.push_back({.name = "killed_storage_away_at_the_next_start",
                    .stepped = true,
                    .kills = true,
                    .startAway = true});
    return list;
}

struct Outcome {
    bool happened = false;
    bool achieved = false;
    std::vector<Message> messages;
};

// Runs the command under the event, at `step`; a command that kills itself runs in a child.
Outcome runCommand(Scenario& s, const CommandCase& command, const Event& event, int step) {
    seen = 0;
    hits = 0;
    if (const pid_t child = event.kills ? ::fork() : 0; child != 0) {
        int status = 0;
        EXPECT_EQ(::waitpid(child, &status, 0), child);
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        EXPECT_TRUE(killed || WIFEXITED(status)) << "the child ended with status " << status;
        return {killed, WIFEXITED(status) && WEXITSTATUS(status) == 0, {}};
    }
    ProgramState state = s.state;
    Catalogue catalogue = s.catalogue;
    FakeUiServices ui;
    FakeBusy busy;
    CommandContext context{state, ui, catalogue, busy};
    ui.fileAnswers = {s.toHide};
    ui.inputAnswers = {s.newValue, s.newValue};
    const platform::FaultHook hook = [&](Operation op, std::string_view path,
                                         std::string_view other) {
        // A read changes nothing: a kill there is a kill after the last change.
        if (event.kills && op != Operation::kRead && ++seen == step) {
            ::kill(::getpid(), SIGKILL);
        }
        const int error = event.hook ? event.hook(s, step, op, path, other) : 0;
        hits += error != 0;
        return error;
    };
    rlimit room{};
    ::getrlimit(RLIMIT_FSIZE, &room);
    const rlimit full{event.realFullDisk ? kFullDiskLimit : room.rlim_cur, room.rlim_max};
    ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &full);
    platform::setFaultHook(hook);
    command.run(s, context);
    platform::setFaultHook({});
    ::setrlimit(RLIMIT_FSIZE, &room);
    Outcome outcome{false, command.achieved(s, state, catalogue), ui.messages};
    if (event.kills) {
        ::_exit(outcome.achieved ? 0 : 1);
    }
    // Work a failure left unfinished must not be built on, while the disk still fails and after.
    for (const platform::FaultHook& now : {hook, platform::FaultHook()}) {
        platform::setFaultHook(now);
        if (event.thenRestoreAll && FinishPendingWork(context)) {
            (void)RestoreAll(context);
        }
    }
    platform::setFaultHook({});
    outcome.happened = event.realFullDisk ? !s.tooLarge.empty() : !event.hook || hits > 0;
    return outcome;
}

bool claimsSuccess(const std::string& text) {
    return text.starts_with("Password changed") ||
           text.starts_with("New storage extension set to") ||
           text.starts_with("New storage directory set to");
}

// Says in words what was not done: names a file or folder, or what was left as it was.
bool inWords(const Scenario& s, const std::string& text) {
    bool found = text.find(s.root.path()) != npos || text.find(s.elsewhere.path()) != npos;
    for (const char* words :
         {"not changed", "kept", "still", "where it was", "not hidden", "Nothing was changed",
          "no stored file has been", "left as it was", "at its next start"}) {
        found = found || text.find(words) != npos;
    }
    return found && !claimsSuccess(text);
}

using Case = std::tuple<CommandCase, Event>;

class CrashTest : public ::testing::TestWithParam<Case> {};

TEST_P(CrashTest, losesNothingAndSaysWhatWasNotDone) {
    const auto& [command, event] = GetParam();
    int happened = 0;
    for (int step = 1;; ++step) {
        SCOPED_TRACE(command.name + ", " + event.name + " at step " + std::to_string(step));
        ASSERT_LT(step, 1000) << "no command takes this many steps: it never got through";
        Scenario s;
        command.setup(s);
        ASSERT_NO_FATAL_FAILURE(event.before(s));
        const Outcome outcome = runCommand(s, command, event, step);
        ASSERT_NO_FATAL_FAILURE(event.after(s));
        if (event.startAway && platform::isFolder(s.storageFolder())) {
            ASSERT_NO_FATAL_FAILURE(unplugStorage(s));
            (void)freshStart();
            ASSERT_NO_FATAL_FAILURE(plugStorageBackIn(s));
        }
        const Start start = freshStart();
        expectNothingLost(s, start);
        if (outcome.happened) {
            ++happened;
            if (command.startSays && !event.startAway) {
                command.startSays(s, start);
            }
            if (event.expect) {
                event.expect(command, s, outcome.messages, start);
            }
            bool told = outcome.achieved || event.kills;
            for (const Message& message : outcome.messages) {
                EXPECT_FALSE(!outcome.achieved && claimsSuccess(message.text))
                    << "a failed command said: " << message.text;
                told = told || inWords(s, message.text);
            }
            EXPECT_TRUE(told) << "the command did not do its work and did not say so plainly";
        } else {
            EXPECT_TRUE(outcome.achieved) << "nothing failed, yet the command did not do its work";
            EXPECT_EQ(start.catalogue.size(), event.thenRestoreAll ? 0 : s.expectedEntries());
            if (!event.startAway) {
                EXPECT_TRUE(start.messages.empty()) << start.messages[0].text;
            }
        }
        if (HasFailure()) {
            for (const auto& [who, said] : {std::pair{"the command", &outcome.messages},
                                            std::pair{"the next start", &start.messages}}) {
                for (const Message& message : *said) {
                    ADD_FAILURE() << who << " said: " << message.text;
                }
            }
            FAIL() << "stopping at the first step that failed";
        }
        if (!event.stepped || !outcome.happened) {
            break;
        }
    }
    EXPECT_GE(happened, event.kills ? 5 : event.stepped ? 1 : 0) << "the event never happened";
}

void PrintTo(const Case& c, std::ostream* out) {
    *out << std::get<0>(c).name << "__" << std::get<1>(c).name;
}

// Every command against every event. A copy Run Selected File could not delete is the user's
// to delete once restore all has taken its entry away, so restore all does not follow it.
std::vector<Case> table() {
    std::vector<Case> cases;
    for (const CommandCase& command : longCommands()) {
        for (const Event& event : events()) {
            if (!command.name.starts_with("run_") || !event.thenRestoreAll) {
                cases.emplace_back(command, event);
            }
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(LongCommands, CrashTest, ::testing::ValuesIn(table()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return ::testing::PrintToString(info.param);
                         });

// What a write cut short leaves is deleted at the next start, and nothing else is: not a
// file of the user's that only looks like one, nor one in a folder Vantory does not write to.
TEST(StrayTemporariesTest, onlyUnfinishedFilesOfVantorysOwnAreDeletedAtStart) {
    Scenario scenario;
    const std::string docs = scenario.root / "home/docs/";
    const std::string store = scenario.state.strStorageDir;
    const std::string settings = scenario.state.strSystemDir + "/";
    // Each file, and whether it is what a write cut short leaves.
    const std::vector<std::pair<std::string, bool>> files = {
        {docs + ".entry 0.odt.vantory-a1B2c3", true},                    // a restore of an entry
        {store + ".100.txt.vantory-Zz9yY8", true},                       // a stored file
        {store + ".tempFile.odt.vantory-000000", true},                  // Run Selected File's
        {store + ".101.txt.vantory-rekey-AAAAAA.vantory-BBBBBB", true},  // a change of password
        {settings + ".regInfo.lst.vantory-q1w2e3", true},                // the settings file
        {settings + ".regInfo.moves.vantory-r4t5y6", true},
        {settings + ".vantory.conf.vantory-u7i8o9", true},  // the window's own settings
        {docs + ".letter.odt.vantory-a1B2c3", false},       // not an entry's name
        {docs + ".entry 0.odt.vantory-a1B2c", false},       // not the temporary name
        {docs + ".entry 0.odt.vantory-a1B2c!", false},
        {docs + "entry 0.odt.vantory-a1B2c3", false},
        {store + ".notes.vantory-a1B2c3", false},  // not a name Vantory writes there
        {scenario.root / "home/.entry 0.odt.vantory-a1B2c3", false},  // no entry in that folder
    };
    std::set<std::string> stray;
    for (const auto& [path, isStray] : files) {
        writeFile(path, "half");
        if (isStray) {
            stray.insert(path);
        }
    }
    // A link and a folder under a temporary name are not files being written.
    const std::string link = store + ".102.txt.vantory-l1n2k3";
    ASSERT_EQ(::symlink(scenario.catalogue.at(0).path.c_str(), link.c_str()), 0);
    ASSERT_EQ(::mkdir((store + ".103.txt.vantory-f0ld3r").c_str(), 0700), 0);

    FakeUiServices ui;
    FakeBusy busy;
    CommandContext context{scenario.state, ui, scenario.catalogue, busy};
    const std::vector<std::string> removed = RemoveStrayTemporaries(context);
    EXPECT_EQ(std::set<std::string>(removed.begin(), removed.end()), stray);
    for (const auto& [path, isStray] : files) {
        EXPECT_EQ(platform::pathExists(path), !isStray) << path;
    }
    EXPECT_TRUE(platform::isSymbolicLink(link));
    EXPECT_TRUE(platform::isFolder(store + ".103.txt.vantory-f0ld3r"));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].style, UiServices::kInformation);
    EXPECT_NE(ui.messages[0].text.find(docs + ".entry 0.odt.vantory-a1B2c3"), npos);
}

}  // namespace
}  // namespace vantory::test
