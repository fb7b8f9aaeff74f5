// Long commands killed or let down by the disk say what they left undone, and lose nothing.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <set>

#include "cipher/cipher.h"
#include "commands/change_password.h"
#include "commands/hide_command.h"
#include "commands/recovery.h"
#include "commands/restore_command.h"
#include "commands/run_command.h"
#include "commands/storage_settings.h"
#include "commands/store_check.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"

namespace vantory::test {

void PrintTo(const FakeUiServices::Message& message, std::ostream* out) {
    *out << message.text;
}

namespace {

namespace fs = std::filesystem;
using platform::Operation;
using Message = FakeUiServices::Message;
constexpr auto npos = std::string::npos;

constexpr const char* kOldPassword = "old secret";

// In memory flushes cost nothing, and a killed process leaves the same files anywhere.
const std::string kBase =
    ::access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : fs::temp_directory_path().string();

// A user settled in <root> with five entries (sealed, plain, ...) under two folders.
struct Scenario {
    Scenario() : root(kBase) {
        settleUser(root, state, kOldPassword, "txt");
        for (size_t i = 0; i < 5; ++i) {
            const std::string name = (i % 2 == 0 ? "docs/entry " : "entry ") + std::to_string(i);
            hide(addFile(name + ".odt", 700 + 300 * i), i % 2 == 0);
        }
        save();
    }

    // A file of the user's under <root>/home/, with content unlike any other's.
    std::string addFile(const std::string& name, size_t size) {
        const std::string path = root / ("home/" + name);
        fs::create_directories(fs::path(path).parent_path());
        std::string content = static_cast<char>('A' + files.size()) + path;
        for (size_t i = 0; content.size() < size; ++i) {
            content += static_cast<char>((i * 131 + files.size() * 17) % 256);
        }
        content.resize(size);
        writeFile(path, content);
        files[path] = content;
        return path;
    }
    void hide(const std::string& path, bool sealed) {
        const std::string stored = StoredPath(state, catalogue.size());
        EXPECT_TRUE(encryptFileCopy(state, path, stored, sealed).ok());
        EXPECT_TRUE(!sealed || ::unlink(path.c_str()) == 0);
        catalogue.append({path, sealed});
    }
    void save() { EXPECT_TRUE(saveList(state, catalogue).ok()); }
    std::string storageFolder() const { return root / "store"; }
    size_t expectedEntries() const {
        return catalogue.size() + toHide.size() - selected.size() - lost.size();
    }

    TempFolder root;
    FakeUiServices setupUi;
    ProgramState state;
    Catalogue catalogue;
    std::map<std::string, std::string> files;  // every file the user has, with its content
    std::set<std::string> lost;  // gone, with their storage, through no fault of the program's
    TempFolder elsewhere{fs::temp_directory_path().string()};  // off /dev/shm's file system
    std::string tooLarge;             // a file too large for a disk with kFullDiskLimit bytes free
    std::vector<std::string> toHide;  // what the command is asked to do
    std::vector<size_t> selected;
    std::string newValue;  // the new password, extension or storage folder
    std::string doomed;    // what someone else deletes as the command starts
    // Entries whose path another file has taken since they were hidden, with their content:
    // restored, it comes back beside that file.
    std::map<std::string, std::string> displaced;
};

// The storage folder goes as a drive unplugged; back, it takes in what was put in its place.
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
    return ReadSettings(saved).ok() ? std::optional(saved) : std::nullopt;
}

bool readOnly(Operation op) {
    return op == Operation::kRead || op == Operation::kReadPiece;
}

bool listed(const Catalogue& catalogue, const std::string& path) {
    return std::ranges::any_of(catalogue.entries(), [&](const auto& e) { return e.path == path; });
}

// The next start, as the main window's load: interrupted work finished and the store checked.
struct Start {
    Start() {
        EXPECT_TRUE(GetSysDir(state).ok());
        EXPECT_TRUE(ReadSettings(state).ok()) << "regInfo.lst cannot be read";
        EXPECT_TRUE(loadList(state, catalogue).ok());
        loginPassword = state.strPassword;
        passwordRecordFound = platform::pathExists(PasswordChangeRecordPath(state));
        state.bolSlowRun = true;
        CommandContext context{state, ui, catalogue, busy};
        RecoverInterruptedWork(context);
        (void)ErrorRemoveFiles(context);
    }

    ProgramState state;
    Catalogue catalogue;
    FakeUiServices ui;  // what it said
    FakeBusy busy;
    std::string loginPassword;  // as read, before interrupted work was finished
    bool passwordRecordFound = false;
};

// Every file of the user's is in its place, or listed once with a stored file at attributes 7
// that gives it back; no temporary, unsealed copy, record of unfinished work or stray copy.
void expectNothingLost(const Scenario& s, const Start& start) {
    TempFolder scratch;
    std::set<std::string> seen;
    std::set<std::pair<std::string, std::string>> copies;  // (plain stored file, original)
    for (size_t p = 0; p < start.catalogue.size(); ++p) {
        const CatalogueEntry& entry = start.catalogue.at(p);
        const std::string stored = StoredPath(start.state, p);
        ASSERT_TRUE(s.files.count(entry.path) != 0 && seen.insert(entry.path).second)
            << "listed twice, or never the user's: " << entry.path;
        if (!entry.sealed) {
            copies.insert({stored, entry.path});
        }
        if (s.lost.count(entry.path) != 0) {
            continue;  // still listed while its stored file is gone
        }
        const std::string clear = entry.sealed ? scratch / "unsealed" : stored;
        const bool open = !entry.sealed || unsealFile(stored, clear, start.state.strPassword).ok();
        EXPECT_EQ(platform::getAttributes(stored), platform::kStoredAttributes) << stored;
        const auto displaced = s.displaced.find(entry.path);
        EXPECT_TRUE(open && platform::readWholeFile(clear) == (displaced != s.displaced.end()
                                                                   ? displaced->second
                                                                   : s.files.at(entry.path)))
            << "the stored file " << stored << " does not give back " << entry.path;
    }
    for (const auto& [path, content] : s.displaced) {
        const std::string beside = RestoredBesideName(path, 1);
        EXPECT_TRUE(seen.count(path) != 0 || s.lost.count(path) != 0 ||
                    platform::readWholeFile(beside) == content)
            << path << " is neither listed nor restored beside the file now in its place";
        copies.insert({beside, path});
    }
    for (const auto& [path, content] : s.files) {
        const bool there = platform::pathExists(path);
        EXPECT_TRUE(s.lost.count(path) != 0 ||
                    (there ? platform::readWholeFile(path) == content : seen.count(path) != 0))
            << path << (there ? " is in its place with content not its own" : " is lost");
    }
    EXPECT_EQ(namesIn(start.state.strSystemDir), std::set<std::string>{kSettingsFileName})
        << "a record of unfinished work is left";
    for (const std::string& folder : {s.root.path(), s.elsewhere.path()}) {
        for (const fs::directory_entry& found : fs::recursive_directory_iterator(folder)) {
            const std::string path = found.path().string();
            const std::string name = found.path().filename().string();
            EXPECT_FALSE(name.find(".vantory-") != npos || name.starts_with("tempFile."))
                << "a temporary file or unsealed copy is left: " << path;
            const auto content = platform::readWholeFile(path);
            for (const auto& [original, bytes] : s.files) {
                EXPECT_FALSE(content == bytes && path != original &&
                             copies.count({path, original}) == 0)
                    << "the content of " << original << " is left in the clear as " << path;
            }
            for (const auto& [original, bytes] : s.displaced) {
                EXPECT_FALSE(content == bytes && copies.count({path, original}) == 0)
                    << "the content of " << original << " is left in the clear as " << path;
            }
        }
    }
}

// Unless a record says work is unfinished, every file hidden by the command that is listed
// has its whole stored file when sealed, and is in one of its two places when plain.
void expectListedFilesWhole(const Scenario& s) {
    const auto saved = savedSettings(s.state);
    Catalogue listed;
    FakeUiServices ui;
    if (namesIn(s.state.strSystemDir) != std::set<std::string>{kSettingsFileName} || !saved ||
        !loadList(*saved, listed).ok()) {
        return;
    }
    TempFolder scratch;
    for (size_t p = 0; p < listed.size(); ++p) {
        const CatalogueEntry& entry = listed.at(p);
        const std::string stored = StoredPath(*saved, p), clear = scratch / "unsealed";
        const auto displaced = s.displaced.find(entry.path);
        const std::string& content =
            displaced != s.displaced.end() ? displaced->second : s.files.at(entry.path);
        EXPECT_TRUE(
            s.lost.count(entry.path) != 0 || std::ranges::count(s.toHide, entry.path) == 0 ||
            (entry.sealed ? unsealFile(stored, clear, saved->strPassword).ok() &&
                                platform::readWholeFile(clear) == content
                          : platform::pathExists(stored) || platform::pathExists(entry.path)))
            << entry.path << " is listed, but " << stored << " does not give it back";
    }
}

// Nothing left in storage stops the next sealed hide.
void expectHidingWorks(Scenario& s, Start& start) {
    const std::string next = s.addFile("hidden next", 500);
    start.state.bolEncrypt = true;
    CommandContext context{start.state, start.ui, start.catalogue, start.busy};
    const HideReport report = HideSelection(context, {next});
    EXPECT_EQ(report.hidden, 1u) << "a later hide does not work: "
                                 << ::testing::PrintToString(start.ui.messages);
    s.files.erase(next);
}

// A long command as its click handler runs it; its dialogs answer with toHide and newValue.
struct CommandCase {
    std::string name;
    std::function<void(Scenario&)> setup;
    std::function<void(CommandContext&)> run;
    bool needsStorage = true;  // without the storage folder it does nothing, and says so
    std::string ProgramState::*setting = nullptr;  // what it sets to newValue, if anything
};

// In memory and on disk, the setting is newValue, or toHide is listed and selected restored.
bool achieved(const CommandCase& command, const Scenario& s, const ProgramState& state,
              const Catalogue& catalogue) {
    const auto saved = savedSettings(state);
    if (const auto field = command.setting) {
        return state.*field == s.newValue && saved && (*saved).*field == s.newValue;
    }
    const bool hidden =
        std::ranges::all_of(s.toHide, [&](const auto& p) { return listed(catalogue, p); });
    const bool restored = std::ranges::none_of(s.selected, [&](size_t p) {
        const std::string& path = s.catalogue.at(p).path;
        const bool displaced = s.displaced.count(path) != 0;
        return listed(catalogue, path) || platform::readWholeFile(path) != s.files.at(path) ||
               (displaced &&
                platform::readWholeFile(RestoredBesideName(path, 1)) != s.displaced.at(path));
    });
    Catalogue loaded;
    FakeUiServices ui;
    return hidden && restored && catalogue.size() == s.expectedEntries() && saved &&
           loadList(*saved, loaded).ok() && loaded == catalogue;
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
    return {name, setup, [](CommandContext& c) { (void)AddFiles(c); }};
}

CommandCase restoreCase(const std::string& name, std::vector<size_t> selected) {
    const auto run = [selected](CommandContext& c) {
        (void)RestoreSelected(c, static_cast<int>(selected.front()), selected);
    };
    return {name, [selected](Scenario& s) { s.selected = selected; }, run, false};
}

// Whether the new password or the old one is in use, a start after a change of it says which.
void changeOfPasswordIsTold(const Scenario& s, const Start& start) {
    const auto saved = savedSettings(start.state);
    EXPECT_TRUE(saved && saved->strPassword == start.state.strPassword)
        << "regInfo.lst names the password in use";
    const bool switched =
        start.loginPassword == kOldPassword && start.state.strPassword == s.newValue;
    if (switched || (start.passwordRecordFound && start.state.strPassword == kOldPassword)) {
        const std::string title = switched ? "Password changed" : "Password not changed";
        EXPECT_THAT(start.ui.messages,
                    ::testing::Contains(::testing::Field(&Message::title, title)));
    }
}

std::vector<CommandCase> longCommands() {
    const auto move = [](CommandContext& c) { (void)SetStorageDirCommand(c); };
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
         [](CommandContext& c) { (void)RestoreAll(c); }, false},
        {"restore_all_onto_files_in_their_places",
         [](Scenario& s) {
             // Two sealed entries' originals stayed; the other paths have newer files.
             for (size_t p = 0; p < s.catalogue.size(); ++p) {
                 const std::string& path = s.catalogue.at(p).path;
                 if (!s.catalogue.at(p).sealed || p == 2) {
                     s.displaced[path] = s.files[path];
                     s.files[path] = "newer " + path;
                 }
                 writeFile(path, s.files[path]);
             }
             s.selected = {0, 1, 2, 3, 4};
         },
         [](CommandContext& c) { (void)RestoreAll(c); }, false},
        // Both in one session, each committing its files in a batch.
        {"restore_all_then_hide_sealed",
         [](Scenario& s) {
             hideCase("", true).setup(s);
             s.selected = {0, 1, 2, 3, 4};
         },
         [](CommandContext& c) {
             (void)RestoreAll(c);
             (void)AddFiles(c);
         },
         false},
        // The last entry's stored name has come to be its own path: that file is restored in
        // place, and it is the only copy.
        {"restore_all_with_a_file_stored_under_its_own_path",
         [](Scenario& s) {
             const std::string own = s.storageFolder() + "/105.txt";
             s.files[own] = "own " + own;
             writeFile(own, s.files[own]);
             s.hide(own, false);
             s.save();
             s.selected = {0, 1, 2, 3, 4, 5};
         },
         [](CommandContext& c) { (void)RestoreAll(c); }, false},
        {"change_of_password", [](Scenario& s) { s.newValue = "new secret"; },
         [](CommandContext& c) { ChangePassCommand(c); }, true, &ProgramState::strPassword},
        {"storage_folder_move", [](Scenario& s) { s.newValue = s.root / "new store/"; }, move, true,
         &ProgramState::strStorageDir},
        {"extension_change", [](Scenario& s) { s.newValue = "dat"; },
         [](CommandContext& c) { (void)SetExtensionCommand(c); }, true,
         &ProgramState::strExtension},
        {"store_check",
         [](Scenario& s) {
             // A plain and a sealed entry lose their stored files, their only copies.
             for (const size_t gone : {1, 4}) {
                 EXPECT_EQ(::unlink(StoredPath(s.state, gone).c_str()), 0);
                 s.lost.insert(s.catalogue.at(gone).path);
             }
         },
         [](CommandContext& c) { (void)ErrorRemoveFiles(c); }},
        // A plain entry is unsealed into the storage folder and closed, then a sealed one.
        {"run_selected_file_then_closed", [](Scenario&) {},
         [](CommandContext& c) {
             RunCommand run(c, [](const std::string&) {});
             run.setWaitLimit(std::chrono::milliseconds(0));
             for (const size_t position : {1, 0}) {
                 run.press(position);
                 if (run.waiting()) {
                     run.press(position);
                 }
             }
         },
         false},
        {"storage_folder_move_to_another_file_system",
         [](Scenario& s) { s.newValue = s.elsewhere / "new store/"; }, move, true,
         &ProgramState::strStorageDir},
    };
}

std::atomic<int> seen{0};  // operations an event's hook saw, in the command's process
std::atomic<int> hits{0};  // and those it made fail or disturbed

// What goes wrong. A stepped event is tried at step 1, 2, ... until it no longer happens.
struct Event {
    std::string name;
    bool stepped = false;
    // The errno an operation on `path` (and `other`) fails with at `step`; 0 lets it go.
    std::function<int(const Scenario&, int step, Operation, std::string_view, std::string_view)>
        hook = nullptr;
    std::function<void(Scenario&)> before = [](Scenario&) {};  // before the command
    std::function<void(Scenario&)> after = [](Scenario&) {};   // before the next start
    bool unplugged = false;       // the storage folder is away while the command runs
    bool kills = false;           // the hook kills the process: the command runs in a child
    bool realFullDisk = false;    // at most kFullDiskLimit bytes in any file the command writes
    bool startAway = false;       // the first start after it finds no storage folder
    bool thenRestoreAll = false;  // restore all follows in the same session
    bool readPartWay = false;     // the first entry's stored file, larger than a piece, fails
};

std::vector<Event> events() {
    std::vector<Event> list = {
        {"full_disk", true,  // from the step-th allocation on
         [](const Scenario&, int step, Operation op, auto, auto) {
             const bool allocates = op == Operation::kCreate || op == Operation::kWrite ||
                                    op == Operation::kFlush || op == Operation::kMakeFolder;
             return allocates && ++seen >= step ? ENOSPC : 0;
         }},
        {"IO_error", true,
         [](const Scenario&, int step, auto...) { return ++seen == step ? EIO : 0; }},
        {.name = "storage_folder_unplugged",
         .before = unplugStorage,
         .after = plugStorageBackIn,
         .unplugged = true},
        // Someone deletes the second picked file, or the first worked-on stored file, at once.
        {.name = "source_gone_after_it_was_picked",
         .hook =
             [](const Scenario& s, auto...) {
                 if (seen++ == 0) {
                     ++hits;
                     ::unlink(s.doomed.c_str());
                 }
                 return 0;
             },
         .before =
             [](Scenario& s) {
                 const size_t at = s.selected.empty() ? 0 : s.selected.front();
                 s.doomed = s.toHide.empty() ? StoredPath(s.state, at) : s.toHide[1];
                 s.lost.insert(s.toHide.empty() ? s.catalogue.at(at).path : s.toHide[1]);
             }},
    };
    // Every change in the settings folder, or in the storage folder, fails with `error`.
    for (const auto& [name, settings, error] :
         {std::tuple{"read_only_storage_folder", false, EROFS},
          std::tuple{"storage_folder_without_write_permission", false, EACCES},
          std::tuple{"settings_folder_without_write_permission", true, EACCES}}) {
        list.push_back({name, false, [=](const Scenario& s, int, Operation op, auto path, auto to) {
                            const std::string in =
                                (settings ? s.state.strSystemDir : s.storageFolder()) + '/';
                            const bool refused = path.starts_with(in) || to.starts_with(in);
                            return refused && !readOnly(op) ? error : 0;
                        }});
    }
    for (size_t i = 0, n = list.size(); i < n; ++i) {
        list.push_back(list[i]);
        list.back().name += "_then_restore_all";
        list.back().thenRestoreAll = true;
    }
    list.push_back({.name = "read_error_part_way",
                    .hook =
                        [](const Scenario& s, int, Operation op, auto path, auto) {
                            const bool stored = path == StoredPath(s.state, 0);
                            return op == Operation::kReadPiece && stored && ++seen == 2
                                       ? platform::kSystemRefuses
                                       : 0;
                        },
                    .before =
                        [](Scenario& s) {
                            const std::string first =
                                s.addFile("docs/entry 0.odt", 5 * kSealedCopyPiece / 2);
                            const std::string stored = StoredPath(s.state, 0);
                            EXPECT_TRUE(encryptFileCopy(s.state, first, stored, true).ok());
                            EXPECT_EQ(::unlink(first.c_str()), 0);
                        },
                    .readPartWay = true});
    list.push_back({.name = "real_full_disk", .realFullDisk = true});
    list.push_back({.name = "killed", .stepped = true, .kills = true});
    list.push_back(list.back());
    list.back().name += "_storage_away_at_the_next_start";
    list.back().startAway = true;
    return list;
}

using Outcome = std::tuple<bool, bool, std::vector<Message>>;

// Runs the command under the event at `step`, in a child if it kills: happened, done, said.
Outcome runCommand(Scenario& s, const CommandCase& command, const Event& event, int step) {
    seen = hits = 0;
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
    const platform::FaultHook hook = [&](Operation op, auto path, auto other) {
        // A read changes nothing: a kill there is a kill after the last change.
        if (event.kills && !readOnly(op) && ++seen == step) {
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
    command.run(context);
    platform::setFaultHook({});
    ::setrlimit(RLIMIT_FSIZE, &room);
    const bool done = achieved(command, s, state, catalogue);
    const std::vector<Message> said = ui.messages;
    if (event.kills) {
        ::_exit(done ? 0 : 1);
    }
    // Work a failure left unfinished must not be built on, while the disk still fails and after.
    for (const platform::FaultHook& now : {hook, platform::FaultHook()}) {
        platform::setFaultHook(now);
        if (event.thenRestoreAll && FinishPendingWork(context)) {
            (void)RestoreAll(context);
        }
    }
    return {event.realFullDisk ? !s.tooLarge.empty() : !event.hook || hits > 0, done, said};
}

bool claimsSuccess(const std::string& text) {
    return text.starts_with("Password changed") || text.starts_with("New storage extension set") ||
           text.starts_with("New storage directory set");
}

// Says what was not done: names a file or folder, or what was left as it was.
bool inWords(const Scenario& s, const std::string& text) {
    return std::ranges::any_of(
        std::vector<std::string>{s.root.path(), s.elsewhere.path(), "not changed", "kept", "still",
                                 "where it was", "not hidden", "Nothing was changed",
                                 "no stored file has been", "left as it was", "at its next start"},
        [&](const std::string& words) { return text.find(words) != npos; });
}

// What a command that did not do its work said, in words of its kind: each picked file left
// out is named as not hidden, each chosen entry still hidden and not in its place as still
// hidden.
void expectToldPlainly(const Scenario& s, const Start& start, const std::vector<Message>& said,
                       bool restoredAfter) {
    std::string all;
    for (const Message& message : said) {
        all += message.text + "\n";
    }
    const auto names = [&](const std::string& path, std::initializer_list<const char*> words) {
        return all.find(path) != npos &&
               std::ranges::any_of(words, [&](const char* w) { return all.find(w) != npos; });
    };
    const bool noneHidden = all.find("no file was hidden") != npos;
    for (const std::string& path : s.toHide) {
        EXPECT_TRUE(restoredAfter || listed(start.catalogue, path) || noneHidden ||
                    names(path, {"not hidden"}))
            << path << " was not hidden, and no message says so";
    }
    for (const size_t p : s.selected) {
        const std::string& path = s.catalogue.at(p).path;
        EXPECT_TRUE(!listed(start.catalogue, path) || platform::pathExists(path) ||
                    names(path, {"still hidden"}) || all.find("no stored file has been") != npos)
            << path << " is still hidden, and no message says so";
    }
}

// "Deleted from storage", from the command or the next start, names only lost files.
void expectNoFalseLoss(const Scenario& s, const Start& start, const std::vector<Message>& said) {
    std::vector<Message> every = said;
    every.insert(every.end(), start.ui.messages.begin(), start.ui.messages.end());
    for (const Message& message : every) {
        if (message.text.find("deleted from storage") == npos) {
            continue;
        }
        for (const auto& [path, content] : s.files) {
            EXPECT_FALSE(message.text.find(" " + path + " ") != npos && s.lost.count(path) == 0 &&
                         platform::readWholeFile(path) == content)
                << path << " is in its place, yet said to be deleted from storage";
        }
    }
}

// A failed case prints as its name.
void PrintTo(const CommandCase& command, std::ostream* out) {
    *out << command.name;
}
void PrintTo(const Event& event, std::ostream* out) {
    *out << event.name;
}

using Case = std::tuple<CommandCase, Event>;

class CrashTest : public ::testing::TestWithParam<Case> {};

TEST_P(CrashTest, losesNothingAndSaysWhatWasNotDone) {
    const auto& [command, event] = GetParam();
    int times = 0;
    for (int step = 1;; ++step) {
        SCOPED_TRACE(command.name + ", " + event.name + " at step " + std::to_string(step));
        ASSERT_LT(step, 1000) << "no command takes this many steps: it never got through";
        Scenario s;
        command.setup(s);
        ASSERT_NO_FATAL_FAILURE(event.before(s));
        const auto [happened, done, said] = runCommand(s, command, event, step);
        ASSERT_NO_FATAL_FAILURE(event.after(s));
        expectListedFilesWhole(s);
        if (event.startAway && platform::isFolder(s.storageFolder())) {
            ASSERT_NO_FATAL_FAILURE(unplugStorage(s));
            Start{};
            ASSERT_NO_FATAL_FAILURE(plugStorageBackIn(s));
        }
        Start start;
        expectNothingLost(s, start);
        expectNoFalseLoss(s, start, said);
        if (happened) {
            ++times;
            if (command.setting == &ProgramState::strPassword && !event.startAway) {
                changeOfPasswordIsTold(s, start);
            }
            if (event.readPartWay) {  // the file is named and as it was; nothing is left to clear
                const std::string first = s.catalogue.at(0).path, stored = StoredPath(s.state, 0);
                EXPECT_TRUE(start.ui.messages.empty()) << "the next start had work left";
                EXPECT_TRUE(std::ranges::any_of(said, [&](const Message& m) {
                    return m.text.find(first) != npos || m.text.find(stored) != npos;
                })) << "no message names it";
                const std::string sealed = Seal(s.files.at(first), kOldPassword) + "\r\n";
                EXPECT_TRUE(platform::readWholeFile(stored) == sealed) << stored << " changed";
            }
            if (event.realFullDisk) {  // the one message names the file too large, left as it was
                ASSERT_EQ(said.size(), 1u);
                EXPECT_EQ(said[0].style, UiServices::kExclamation);
                EXPECT_NE(said[0].text.find(s.tooLarge), npos) << said[0].text;
                const bool stays = listed(s.catalogue, s.tooLarge);
                EXPECT_EQ(listed(start.catalogue, s.tooLarge), stays);
                EXPECT_EQ(start.catalogue.size(), s.expectedEntries() + (stays ? 1 : -1));
            }
            // With the storage away, one message says it cannot be found, or every one names it.
            const std::string away = command.needsStorage
                                         ? s.state.strStorageDir + " cannot be found"
                                         : s.storageFolder();
            EXPECT_TRUE(!event.unplugged || !command.needsStorage || said.size() == 1);
            bool told = done || event.kills;
            for (const Message& message : said) {
                EXPECT_FALSE(!done && claimsSuccess(message.text))
                    << "a failed command said: " << message.text;
                EXPECT_TRUE(!event.unplugged || message.text.find(away) != npos) << message.text;
                told = told || inWords(s, message.text);
            }
            EXPECT_TRUE(told) << "the command did not do its work and did not say so plainly";
            if (!done && !event.kills) {
                expectToldPlainly(s, start, said, event.thenRestoreAll);
            }
        } else {
            EXPECT_TRUE(done) << "nothing failed, yet the command did not do its work";
            EXPECT_EQ(start.catalogue.size(), event.thenRestoreAll ? 0 : s.expectedEntries());
            EXPECT_TRUE(event.startAway || start.ui.messages.empty()) << "the next start spoke";
        }
        expectHidingWorks(s, start);
        ASSERT_FALSE(HasFailure())
            << "the command said " << ::testing::PrintToString(said) << "; the next start "
            << ::testing::PrintToString(start.ui.messages);
        if (!event.stepped || !happened) {
            break;
        }
    }
    EXPECT_GE(times, event.kills ? 5 : event.stepped ? 1 : 0) << "the event never happened";
}

std::vector<Case> table() {
    std::vector<Case> cases;
    for (const CommandCase& command : longCommands()) {
        for (const Event& event : events()) {
            cases.emplace_back(command, event);
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(LongCommands, CrashTest, ::testing::ValuesIn(table()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::get<0>(info.param).name + "__" +
                                    std::get<1>(info.param).name;
                         });

// A start deletes what writes cut short left, not a user's file that only looks like one.
TEST(StrayTemporariesTest, onlyUnfinishedFilesOfVantorysOwnAreDeletedAtStart) {
    Scenario scenario;
    const std::string docs = scenario.root / "home/docs/";
    const std::string store = scenario.state.strStorageDir;
    const std::string settings = scenario.state.strSystemDir + "/";
    const std::vector<std::pair<std::string, bool>> files = {
        {docs + ".entry 0.odt.vantory-a1B2c3", true},                    // a restore of an entry
        {docs + ".entry 0 (restored 2).odt.vantory-a1B2c3", true},       // beside a newer file
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
    for (const auto& [path, isStray] : files) {
        writeFile(path, "half");
    }
    const std::string link = store + ".102.txt.vantory-l1n2k3";  // links, folders: not files
    fs::create_symlink(scenario.catalogue.at(0).path, link);
    ASSERT_TRUE(fs::create_directory(store + ".103.txt.vantory-f0ld3r"));

    FakeUiServices ui;
    FakeBusy busy;
    CommandContext context{scenario.state, ui, scenario.catalogue, busy};
    const std::vector<std::string> removed = RemoveStrayTemporaries(context);
    EXPECT_EQ(std::ssize(removed),
              std::ranges::count(files, true, &std::pair<std::string, bool>::second));
    for (const auto& [path, isStray] : files) {
        EXPECT_EQ(platform::pathExists(path), !isStray) << path;
        EXPECT_EQ(std::ranges::count(removed, path), isStray ? 1 : 0) << path;
    }
    EXPECT_TRUE(platform::isSymbolicLink(link));
    EXPECT_TRUE(platform::isFolder(store + ".103.txt.vantory-f0ld3r"));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].style, UiServices::kInformation);
    EXPECT_NE(ui.messages[0].text.find(docs + ".entry 0.odt.vantory-a1B2c3"), npos);
}

}  // namespace
}  // namespace vantory::test
