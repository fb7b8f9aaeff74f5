#pragma once

// The long commands, each set up in a private world of its own (a settings folder, a storage
// folder with hidden files, the user's folders), run as the click handlers run them, and the
// check that a fresh start afterwards finds nothing lost.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "main/command_context.h"
#include "store/catalogue.h"
#include "store/program_state.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"

namespace vantory::test {

// Where scenarios are made: /dev/shm where there is one, else the temporary folder.
std::string scenarioBase();

// A folder on another file system than scenarioBase(), removed with everything in it;
// path() is empty where there is none.
class OtherFileSystemFolder {
  public:
    OtherFileSystemFolder();
    ~OtherFileSystemFolder();
    OtherFileSystemFolder(const OtherFileSystemFolder&) = delete;
    OtherFileSystemFolder& operator=(const OtherFileSystemFolder&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// One world. The settings name the password "old secret", the storage folder <root>/store/
// and the extension "txt"; XDG_CONFIG_HOME points into <root>.
class Scenario {
  public:
    Scenario();

    // A new file of the user's under <root>/home/ (sub-folders are made), with distinct
    // content of `size` bytes.
    std::string addFile(const std::string& name, size_t size);
    // Hides an existing file as the next entry: sealed copies stand in for an original the
    // user then deleted; plain ones are the file itself, moved.
    void hide(const std::string& path, bool sealed);
    // Writes regInfo.lst from the state and catalogue.
    void save();

    std::string storageFolder() const;  // without the closing separator

    TempFolder root;
    ProgramState state;
    Catalogue catalogue;
    FakeUiServices setupUi;
    // Every file the user has, with its content.
    std::map<std::string, std::string> files;
    // Files gone for reasons outside the program (the storage folder vanished with them).
    std::set<std::string> lost;
    // Further folders the check looks through for files left behind.
    std::vector<std::string> otherFolders;
    std::unique_ptr<OtherFileSystemFolder> elsewhere;

    // What a command is asked to do.
    std::vector<std::string> toHide;
    std::vector<size_t> selected;
    std::string newPassword;
    std::string newExtension;
    std::string newFolder;  // ends in '/'
    size_t expectedEntries = 0;
    std::optional<size_t> runPosition;
};

// The storage folder goes away as a drive that is not connected (to <root>/unplugged store),
// and comes back: what was put meanwhile in a new folder under its name joins it again.
void unplugStorage(Scenario& scenario);
void plugStorageBackIn(Scenario& scenario);

// What the next start finds: the settings read, the catalogue loaded, interrupted work
// finished and the store checked, as the main window's load does.
struct Start {
    ProgramState state;
    Catalogue catalogue;
    std::vector<FakeUiServices::Message> messages;
    std::string loginPassword;  // as read, before interrupted work was finished
    bool passwordRecordFound = false;
};
Start freshStart();

// Every file the user had is in its place with its content, or listed (once) with a stored
// file that gives that content back; each entry's stored file is there at attributes 7; no
// temporary file, unsealed copy or record of unfinished work is left anywhere. Failures are
// reported as test failures; returns whether all held.
bool expectNothingLost(const Scenario& scenario, const Start& start);

// A long command as its click handler runs it.
struct CommandCase {
    std::string name;
    std::function<void(Scenario&)> setup;
    // Queues the dialog answers in `ui` and runs the command on `context`.
    std::function<void(Scenario&, FakeUiServices& ui, CommandContext& context)> run;
    // Whether the command did all it was asked, judged right after it from the state in
    // memory and the disk.
    std::function<bool(const Scenario&, const ProgramState&, const Catalogue&)> achieved;
    // What the next start after a kill must tell, if anything.
    std::function<void(const Scenario&, const Start&)> startSays = nullptr;
};

void PrintTo(const CommandCase& command, std::ostream* out);
// `text` with every character but letters and digits made '_', as a test name.
std::string identifier(const std::string& text);

// hide sealed, hide plain, restore selected (twice), restore all, change of password,
// storage folder move (new folder, other file system), extension change, store check.
std::vector<CommandCase> longCommands();

// Texts that only a command that succeeded may show.
bool isSuccessMessage(const FakeUiServices::Message& message);

}  // namespace vantory::test
