#include "support/command_scenarios.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "main/change_password.h"
#include "main/hide_command.h"
#include "main/recovery.h"
#include "main/restore_command.h"
#include "main/run_command.h"
#include "main/storage_settings.h"
#include "main/store_check.h"
#include "platform/platform.h"
#include "store/move_journal.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"

namespace vantory::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kOldPassword = "old secret";

dev_t deviceOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

// Everything under `folder`, without following links.
std::vector<fs::path> everythingUnder(const std::string& folder) {
    std::vector<fs::path> found;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::end(it);
         it.increment(error)) {
        found.push_back(it->path());
    }
    return found;
}

// The settings of regInfo.lst as they are on disk.
std::optional<ProgramState> savedSettings(const ProgramState& state) {
    ProgramState saved;
    saved.strSystemDir = state.strSystemDir;
    FakeUiServices ui;
    if (!ReadSettings(saved, ui).ok()) {
        return std::nullopt;
    }
    return saved;
}

// The catalogue on disk is the one in memory.
bool savedCatalogueIs(const ProgramState& state, const Catalogue& catalogue) {
    const auto saved = savedSettings(state);
    if (!saved) {
        return false;
    }
    Catalogue loaded;
    FakeUiServices ui;
    return loadList(*saved, loaded, ui).ok() && loaded == catalogue;
}

bool listed(const Catalogue& catalogue, const std::string& path) {
    const auto& entries = catalogue.entries();
    return std::any_of(entries.begin(), entries.end(),
                       [&](const CatalogueEntry& entry) { return entry.path == path; });
}

bool inPlace(const Scenario& scenario, const std::string& path) {
    const auto content = platform::readWholeFile(path);
    return content && *content == scenario.files.at(path);
}

// Five entries: sealed, plain, sealed, plain, sealed, under two folders.
void fiveMixedEntries(Scenario& s) {
    for (size_t i = 0; i < 5; ++i) {
        const std::string path =
            s.addFile((i % 2 == 0 ? "docs/entry " : "entry ") + std::to_string(i), 700 + 300 * i);
        s.hide(path, i % 2 == 0);
    }
    s.save();
}

CommandCase hideCase(const std::string& name, bool sealed) {
    return {
        name,
        [sealed](Scenario& s) {
            s.hide(s.addFile("hidden before", 500), true);
            s.hide(s.addFile("plain before", 600), false);
            s.save();
            s.toHide = {s.addFile("new/one", 1), s.addFile("new/two", 4000),
                        s.addFile("three", 9000)};
            s.state.bolEncrypt = sealed;
            s.expectedEntries = 5;
        },
        [](Scenario& s, FakeUiServices& ui, CommandContext& context) {
            ui.fileAnswers = {s.toHide};
            (void)AddFiles(context);
        },
        [](const Scenario& s, const ProgramState& state, const Catalogue& catalogue) {
            return std::all_of(s.toHide.begin(), s.toHide.end(),
                               [&](const std::string& path) { return listed(catalogue, path); }) &&
                   savedCatalogueIs(state, catalogue);
        },
    };
}

CommandCase restoreSelectedCase(const std::string& name, std::vector<size_t> selected) {
    return {
        name,
        [selected](Scenario& s) {
            fiveMixedEntries(s);
            s.selected = selected;
            s.expectedEntries = 5 - selected.size();
        },
        [](Scenario& s, FakeUiServices&, CommandContext& context) {
            (void)RestoreSelected(context, static_cast<int>(s.selected.front()), s.selected);
        },
        [](const Scenario& s, const ProgramState& state, const Catalogue& catalogue) {
            for (const size_t position : s.selected) {
                const std::string& path = s.catalogue.at(position).path;
                if (listed(catalogue, path) || !inPlace(s, path)) {
                    return false;
                }
            }
            return catalogue.size() == s.expectedEntries && savedCatalogueIs(state, catalogue);
        },
    };
}

}  // namespace

std::string scenarioBase() {
    // The commands flush every file they finish; in memory that costs nothing, and a killed
    // process leaves the same files behind wherever they are.
    if (platform::isFolder("/dev/shm") && ::access("/dev/shm", W_OK | X_OK) == 0) {
        return "/dev/shm";
    }
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && base[0] != '\0' ? base : "/tmp";
}

OtherFileSystemFolder::OtherFileSystemFolder() {
    const std::string base = scenarioBase();
    for (const std::string& other : {fs::temp_directory_path().string(), std::string("/dev/shm")}) {
        if (other == base || !platform::isFolder(other) || ::access(other.c_str(), W_OK) != 0 ||
            deviceOf(other) == deviceOf(base)) {
            continue;
        }
        std::string pattern = other + "/vantory-test-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
            return;
        }
    }
}

OtherFileSystemFolder::~OtherFileSystemFolder() {
    if (!path_.empty()) {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
}

Scenario::Scenario() : root(scenarioBase()) {
    root.useAsConfigHome();
    EXPECT_TRUE(GetSysDir(state).ok());
    SetPassword(state, kOldPassword);
    SetExtension(state, "txt");
    EXPECT_TRUE(SetStorageDir(state, root / "store/").ok());
    state.bolSlowRun = false;
    fs::create_directories(root / "home");
    save();
}

std::string Scenario::addFile(const std::string& name, size_t size) {
    const std::string path = root / ("home/" + name);
    fs::create_directories(fs::path(path).parent_path());
    // Distinct for every file, with bytes of every value, and no two files alike.
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

void Scenario::hide(const std::string& path, bool sealed) {
    const size_t position = catalogue.size();
    EXPECT_TRUE(encryptFileCopy(state, setupUi, path, StoredPath(state, position), sealed).ok());
    if (sealed) {
        EXPECT_EQ(::unlink(path.c_str()), 0);
    }
    catalogue.append({path, sealed});
}

void Scenario::save() {
    EXPECT_TRUE(saveList(state, catalogue, setupUi).ok());
}

std::string Scenario::storageFolder() const {
    std::string folder = state.strStorageDir;
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

namespace {

std::string awayPath(const Scenario& s) {
    return s.root / "unplugged store";
}

}  // namespace

void unplugStorage(Scenario& s) {
    ASSERT_TRUE(platform::renamePath(s.storageFolder(), awayPath(s)).ok());
}

void plugStorageBackIn(Scenario& s) {
    if (!platform::pathExists(s.storageFolder())) {
        ASSERT_TRUE(platform::renamePath(awayPath(s), s.storageFolder()).ok());
        return;
    }
    for (const auto& file : fs::directory_iterator(awayPath(s))) {
        const std::string to = s.storageFolder() + "/" + file.path().filename().string();
        ASSERT_FALSE(platform::pathExists(to)) << to;
        ASSERT_TRUE(platform::renamePath(file.path().string(), to).ok());
    }
    fs::remove(awayPath(s));
}

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

bool expectNothingLost(const Scenario& scenario, const Start& start) {
    bool held = true;
    const auto fail = [&held](const std::string& what) {
        ADD_FAILURE() << what;
        held = false;
    };
    const ProgramState& state = start.state;
    const Catalogue& catalogue = start.catalogue;
    TempFolder scratch;

    // Every entry: known, listed once, with its stored file giving back its content.
    std::set<std::string> seen;
    std::set<std::string> storedFiles;
    for (size_t p = 0; p < catalogue.size(); ++p) {
        const CatalogueEntry& entry = catalogue.at(p);
        if (scenario.files.count(entry.path) == 0) {
            fail("an entry for a file the user never had: " + entry.path);
            continue;
        }
        if (!seen.insert(entry.path).second) {
            fail("listed twice: " + entry.path);
        }
        const std::string stored = StoredPath(state, p);
        storedFiles.insert(stored);
        if (scenario.lost.count(entry.path) != 0) {
            continue;  // still listed while its storage folder is gone
        }
        if (!platform::isRegularFile(stored)) {
            fail("the entry " + entry.path + " has no stored file " + stored);
            continue;
        }
        if (platform::getAttributes(stored) != platform::kStoredAttributes) {
            fail("the stored file " + stored + " is not hidden");
        }
        std::optional<std::string> content;
        if (entry.sealed) {
            const std::string out = scratch / "unsealed";
            if (const Status s = unsealFile(stored, out, state.strPassword); s.ok()) {
                content = platform::readWholeFile(out);
            }
        } else {
            content = platform::readWholeFile(stored);
        }
        if (!content || *content != scenario.files.at(entry.path)) {
            fail("the stored file " + stored + " does not give back " + entry.path);
        }
    }

    // Every file: where it was with its content, or listed; nothing half written in its place.
    for (const auto& [path, content] : scenario.files) {
        if (scenario.lost.count(path) != 0) {
            continue;
        }
        const bool there = platform::pathExists(path);
        if (there && !inPlace(scenario, path)) {
            fail(path + " is in its place with content that is not its own");
        } else if (!there && seen.count(path) == 0) {
            fail(path + " is lost: neither in its place nor listed");
        }
    }

    // Nothing left behind: temporary files, unsealed copies, records of unfinished work, or
    // the content of a user's file anywhere but in its place or its plain stored file.
    std::map<std::string, std::string> plainStored;  // stored path -> original path
    for (size_t p = 0; p < catalogue.size(); ++p) {
        if (!catalogue.at(p).sealed) {
            plainStored[StoredPath(state, p)] = catalogue.at(p).path;
        }
    }
    std::vector<std::string> folders = {scenario.root.path()};
    folders.insert(folders.end(), scenario.otherFolders.begin(), scenario.otherFolders.end());
    for (const std::string& folder : folders) {
        for (const fs::path& found : everythingUnder(folder)) {
            const std::string path = found.string();
            const std::string name = found.filename().string();
            if (platform::atomicFileTarget(name) || name.find(".vantory-") != std::string::npos) {
                fail("a temporary file is left: " + path);
                continue;
            }
            if (name.rfind("tempFile.", 0) == 0) {
                fail("an unsealed copy of Run Selected File is left: " + path);
                continue;
            }
            if (found.parent_path() == state.strSystemDir && name != kSettingsFileName) {
                fail("a record of unfinished work is left: " + path);
                continue;
            }
            std::error_code error;
            if (!fs::is_regular_file(fs::symlink_status(found, error))) {
                continue;
            }
            const auto content = platform::readWholeFile(path);
            for (const auto& [original, bytes] : scenario.files) {
                if (content && *content == bytes && path != original &&
                    !(plainStored.count(path) != 0 && plainStored.at(path) == original)) {
                    fail("the content of " + original + " is left in the clear as " + path);
                }
            }
        }
    }
    return held;
}

void PrintTo(const CommandCase& command, std::ostream* out) {
    *out << command.name;
}

std::string identifier(const std::string& text) {
    std::string name;
    for (const char c : text) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

bool isSuccessMessage(const FakeUiServices::Message& message) {
    for (const char* text : {"Password changed", "New storage extension set to",
                             "New storage directory set to", "Temporary file deleted"}) {
        if (message.text.rfind(text, 0) == 0) {
            return true;
        }
    }
    return false;
}

std::vector<CommandCase> longCommands() {
    std::vector<CommandCase> cases;
    cases.push_back(hideCase("hide sealed", true));
    cases.push_back(hideCase("hide plain", false));
    cases.push_back(restoreSelectedCase("restore the first sealed and a plain entry", {0, 3}));
    cases.push_back(restoreSelectedCase("restore a plain and the last sealed entry", {1, 4}));
    cases.push_back({
        "restore all",
        [](Scenario& s) {
            fiveMixedEntries(s);
            s.expectedEntries = 0;
        },
        [](Scenario&, FakeUiServices&, CommandContext& context) { (void)RestoreAll(context); },
        [](const Scenario& s, const ProgramState& state, const Catalogue& catalogue) {
            return catalogue.empty() && savedCatalogueIs(state, catalogue) &&
                   std::all_of(s.catalogue.entries().begin(), s.catalogue.entries().end(),
                               [&](const CatalogueEntry& e) { return inPlace(s, e.path); });
        },
    });
    cases.push_back({
        "change of password",
        [](Scenario& s) {
            s.hide(s.addFile("one", 3000), true);
            s.hide(s.addFile("two", 200), false);
            s.hide(s.addFile("docs/three", 5000), true);
            s.hide(s.addFile("four", 10), true);
            s.save();
            s.newPassword = "new secret";
            s.expectedEntries = 4;
        },
        [](Scenario& s, FakeUiServices& ui, CommandContext& context) {
            ui.inputAnswers = {s.newPassword, s.newPassword};
            ChangePassCommand(context);
        },
        [](const Scenario& s, const ProgramState& state, const Catalogue&) {
            const auto saved = savedSettings(state);
            // A record that could not be removed is finished at the next start.
            return state.strPassword == s.newPassword && saved &&
                   saved->strPassword == s.newPassword;
        },
    });
    cases.back().startSays = [](const Scenario& s, const Start& start) {
        const auto saved = savedSettings(start.state);
        EXPECT_TRUE(saved && saved->strPassword == start.state.strPassword)
            << "regInfo.lst names the password in use";
        const bool switched =
            start.loginPassword == kOldPassword && start.state.strPassword == s.newPassword;
        if (switched || (start.passwordRecordFound && start.state.strPassword == kOldPassword)) {
            const std::string title = switched ? "Password changed" : "Password not changed";
            EXPECT_TRUE(std::any_of(start.messages.begin(), start.messages.end(),
                                    [&](const auto& m) { return m.title == title; }))
                << "the start does not say: " << title;
        }
    };
    const auto storageMove = [](const std::string& name, bool otherFileSystem) -> CommandCase {
        return {
            name,
            [otherFileSystem](Scenario& s) {
                fiveMixedEntries(s);
                if (otherFileSystem) {
                    s.elsewhere = std::make_unique<OtherFileSystemFolder>();
                    s.otherFolders.push_back(s.elsewhere->path());
                    s.newFolder = s.elsewhere->path() + "/new store/";
                } else {
                    s.newFolder = s.root / "new store/";
                }
                s.expectedEntries = 5;
            },
            [](Scenario& s, FakeUiServices& ui, CommandContext& context) {
                ui.inputAnswers = {s.newFolder};
                (void)SetStorageDirCommand(context);
            },
            [](const Scenario& s, const ProgramState& state, const Catalogue&) {
                const auto saved = savedSettings(state);
                return state.strStorageDir == s.newFolder && saved &&
                       saved->strStorageDir == s.newFolder;
            },
        };
    };
    cases.push_back(storageMove("storage folder move", false));
    if (!OtherFileSystemFolder().path().empty()) {
        cases.push_back(storageMove("storage folder move to another file system", true));
    }
    cases.push_back({
        "extension change",
        [](Scenario& s) {
            fiveMixedEntries(s);
            s.newExtension = "dat";
            s.expectedEntries = 5;
        },
        [](Scenario& s, FakeUiServices& ui, CommandContext& context) {
            ui.inputAnswers = {s.newExtension};
            (void)SetExtensionCommand(context);
        },
        [](const Scenario& s, const ProgramState& state, const Catalogue&) {
            const auto saved = savedSettings(state);
            return state.strExtension == s.newExtension && saved &&
                   saved->strExtension == s.newExtension;
        },
    });
    cases.push_back({
        "store check",
        [](Scenario& s) {
            for (size_t i = 0; i < 6; ++i) {
                s.hide(s.addFile("checked " + std::to_string(i), 400 + 100 * i), i % 2 == 1);
            }
            s.save();
            // The stored files of the second and fourth entries vanish, and with them the
            // only copies of those files.
            for (const size_t gone : {1, 3}) {
                EXPECT_EQ(::unlink(StoredPath(s.state, gone).c_str()), 0);
                s.lost.insert(s.catalogue.at(gone).path);
            }
            s.expectedEntries = 4;
        },
        [](Scenario&, FakeUiServices&, CommandContext& context) {
            (void)ErrorRemoveFiles(context);
        },
        [](const Scenario& s, const ProgramState& state, const Catalogue& catalogue) {
            return catalogue.size() == s.expectedEntries && savedCatalogueIs(state, catalogue);
        },
    });
    return cases;
}

}  // namespace vantory::test
