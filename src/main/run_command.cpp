#include "main/run_command.h"

#include <cerrno>
#include <set>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "store/file_services.h"
#include "store/sealed_copy.h"
#include "store/stored_name.h"

namespace vantory {

namespace {

constexpr const char* kRunTitle = "Run Selected File";
constexpr const char* kNotDeletedTitle = "File not deleted";
constexpr const char* kInterruptedTitle = "Interrupted operation";
// A stored file that has been open is hidden again, but left writable.
constexpr int kHiddenAgain = platform::kHidden | platform::kSystem;
// Pause between two attempts to move a file back.
constexpr std::chrono::milliseconds kRetryPause{20};

// Moves `path` to a free name beside it ("kept-1-tempFile.txt", ...) and returns that name.
std::optional<std::string> moveAside(const std::string& path, UiServices& ui) {
    const std::string folder = platform::parentFolder(path);
    const std::string name = platform::baseName(path);
    for (int n = 1; n < 1000; ++n) {
        const std::string aside =
            folder + platform::kSeparator + "kept-" + std::to_string(n) + "-" + name;
        if (platform::pathExists(aside)) {
            continue;
        }
        if (RenameFile(path, aside, ui).ok()) {
            return aside;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

bool ClearTemporaryName(CommandContext& context, const std::string& temporaryPath, bool atStart) {
    const ProgramState& state = context.state;
    UiServices& ui = context.ui;
    if (!platform::pathExists(temporaryPath)) {
        return true;
    }
    if (atStart &&
        (!platform::isRegularFile(temporaryPath) || platform::isSymbolicLink(temporaryPath))) {
        return false;  // not a file any run of ours leaves: not touched
    }

    // Plain entries whose stored file may be this file, and a sealed entry it may be a copy of.
    std::vector<size_t> owners;
    std::optional<size_t> sealedOwner;
    for (size_t p = 0; p < context.catalogue.size(); ++p) {
        const CatalogueEntry& entry = context.catalogue.at(p);
        if (TempName(state, entry.path) != temporaryPath) {
            continue;
        }
        const bool stored = platform::pathExists(StoredPath(state, p));
        if (!entry.sealed && !stored) {
            owners.push_back(p);
        } else if (entry.sealed && stored && !sealedOwner) {
            sealedOwner = p;
        }
    }

    if (owners.size() == 1) {
        const size_t owner = owners.front();
        const std::string stored = StoredPath(state, owner);
        const std::string& path = context.catalogue.at(owner).path;
        if (Status moved = RenameFile(temporaryPath, stored, ui); !moved.ok()) {
            ui.messageBox("The stored file of " + path + " could not be moved back from " +
                              temporaryPath + " to " + stored + " (" + moved.message() +
                              "). It is kept as " + temporaryPath + ".",
                          UiServices::kExclamation, atStart ? kInterruptedTitle : kRunTitle);
            return false;
        }
        (void)platform::setAttributes(stored, kHiddenAgain);
        if (atStart) {
            ui.messageBox("Vantory was closed while " + path +
                              " was open. Its stored file has been put back in the storage "
                              "folder.",
                          UiServices::kInformation, kInterruptedTitle);
        }
        return true;
    }

    if (owners.empty() && (!atStart || sealedOwner)) {
        if (Status removed = RemoveFile(temporaryPath, ui); !removed.ok()) {
            ui.messageBox("The temporary file " + temporaryPath + " could not be deleted (" +
                              removed.message() + "). It is still in the storage folder.",
                          UiServices::kExclamation, atStart ? kInterruptedTitle : kRunTitle);
            return false;
        }
        if (atStart) {
            ui.messageBox("Vantory was closed while " + context.catalogue.at(*sealedOwner).path +
                              " was open. The copy that was open, " + temporaryPath +
                              ", has been deleted; the hidden file is unchanged.",
                          UiServices::kInformation, kInterruptedTitle);
        }
        return true;
    }

    // Several plain entries may own it, or none does: keep it out of every later removal.
    const std::optional<std::string> aside = moveAside(temporaryPath, ui);
    ui.messageBox("Vantory found " + temporaryPath +
                      ", left from a hidden file that was open when Vantory was closed or that "
                      "could not be hidden again, and cannot tell which hidden file it belongs "
                      "to. It has been kept" +
                      (aside ? " as " + *aside : std::string(" where it is")) + ".",
                  UiServices::kExclamation, atStart ? kInterruptedTitle : kRunTitle);
    return aside.has_value();
}

void RecoverTemporaryFiles(CommandContext& context) {
    std::set<std::string> seen;
    for (size_t p = 0; p < context.catalogue.size(); ++p) {
        const std::string temporaryPath = TempName(context.state, context.catalogue.at(p).path);
        if (seen.insert(temporaryPath).second && platform::pathExists(temporaryPath)) {
            (void)ClearTemporaryName(context, temporaryPath, true);
        }
    }
}

RunCommand::RunCommand(CommandContext& context, std::function<void(const std::string&)> setCaption)
    : context_(context), setCaption_(std::move(setCaption)) {}

bool RunCommand::waiting() const {
    return context_.state.bolTempFileOpen;
}

void RunCommand::press(std::optional<size_t> selected) {
    if (context_.state.bolTempFileOpen) {
        if (!deleting_) {
            deletePhase();
        }
        return;
    }
    if (selected && *selected < context_.catalogue.size()) {
        runPhase(*selected);
    }
}

void RunCommand::runPhase(size_t position) {
    ProgramState& state = context_.state;
    UiServices& ui = context_.ui;
    const CatalogueEntry entry = context_.catalogue.at(position);
    path_ = entry.path;
    sealed_ = entry.sealed;
    storedPath_ = StoredPath(state, position);
    temporaryPath_ = TempName(state, entry.path);

    state.intProgress = 1;
    state.intProgressTotal = 1;
    context_.busy.OpRunning(true);

    // A file left under the temporary name goes first, unless it is a hidden file's only copy.
    if (!ClearTemporaryName(context_, temporaryPath_, false)) {
        context_.busy.OpRunning(false);
        return;
    }
    const std::optional<int> attributes = platform::getAttributes(storedPath_);
    if (attributes) {
        (void)platform::setAttributes(storedPath_, platform::kNormal);
    }
    const Status opened = sealed_ ? decryptFileCopy(state, ui, storedPath_, temporaryPath_, true)
                                  : RenameFile(storedPath_, temporaryPath_, ui);
    if (!opened.ok()) {
        if (attributes && platform::pathExists(storedPath_)) {
            (void)platform::setAttributes(storedPath_, *attributes);
        }
        context_.busy.OpRunning(false);
        ui.messageBox(
            path_ + " could not be opened: " +
                (attributes ? opened.message() : "its stored copy " + storedPath_ + " is missing") +
                ".",
            UiServices::kExclamation, kRunTitle);
        return;
    }

    ui.openWithDefaultApplication(temporaryPath_);
    setCaption_(kDeleteTemporaryCaption);
    ui.yield();
    context_.busy.OpRunning(false);
    state.bolTempFileOpen = true;
    context_.busy.OpRunning(true);
}

void RunCommand::deletePhase() {
    ProgramState& state = context_.state;
    UiServices& ui = context_.ui;
    deleting_ = true;

    state.intProgress = 1;
    state.intProgressTotal = 1;
    context_.busy.OpRunning(true);
    setCaption_(kAttemptingDeleteCaption);

    Status done;
    bool gone = false;  // a plain entry's file vanished from under its temporary name
    if (sealed_) {
        done = RemoveFile(temporaryPath_, ui, waitLimit_);
    } else {
        const auto deadline = std::chrono::steady_clock::now() + waitLimit_;
        for (;;) {
            if (platform::probePath(temporaryPath_).error == ENOENT) {
                gone = !platform::pathExists(storedPath_);
                break;
            }
            ui.yield();
            done = RenameFile(temporaryPath_, storedPath_, ui);
            if (done.ok() || std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            std::this_thread::sleep_for(kRetryPause);
        }
    }
    if (platform::pathExists(storedPath_)) {
        (void)platform::setAttributes(storedPath_, kHiddenAgain);
    }
    setCaption_(kRunCaption);

    if (!done.ok() && sealed_) {
        ui.messageBox("The temporary file " + temporaryPath_ + " could not be deleted (" +
                          done.message() + "). It still holds the content of " + path_ +
                          " in the clear: delete it yourself once no program uses it. The "
                          "hidden file itself is safe.",
                      UiServices::kExclamation, kNotDeletedTitle);
    } else if (!done.ok()) {
        ui.messageBox(path_ + " could not be moved back from " + temporaryPath_ + " (" +
                          done.message() +
                          "). It is kept there, and Vantory moves it back to its stored name at "
                          "its next start.",
                      UiServices::kExclamation, kNotDeletedTitle);
    } else if (gone) {
        ui.messageBox("The temporary file " + temporaryPath_ + " is no longer there, so " + path_ +
                          " could not be hidden again: it has no stored file.",
                      UiServices::kExclamation, kNotDeletedTitle);
    } else {
        ui.messageBox("Temporary file deleted", UiServices::kInformation, "File deleted");
    }

    state.bolTempFileOpen = false;
    deleting_ = false;
    context_.busy.OpRunning(false);
}

}  // namespace vantory
