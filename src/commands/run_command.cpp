#include "commands/run_command.h"

#include <algorithm>
#include <cerrno>
#include <set>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "store/file_services.h"
#include "store/open_copies.h"
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
std::optional<std::string> moveAside(const std::string& path) {
    const std::string folder = platform::parentFolder(path);
    const std::string name = platform::baseName(path);
    for (int n = 1; n < 1000; ++n) {
        const std::string aside =
            folder + platform::kSeparator + "kept-" + std::to_string(n) + "-" + name;
        const Status moved = platform::movePathKeeping(path, aside);
        if (moved.ok()) {
            return aside;
        }
        if (moved.error != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// Moves a plain entry's file back to its stored name, never over a file there, and hides it.
Status moveBack(const OpenCopy& copy) {
    const Status moved = platform::movePathKeeping(copy.temporaryPath, copy.storedPath);
    if (moved.ok()) {
        (void)platform::setAttributes(copy.storedPath, kHiddenAgain);
    }
    return moved;
}

// Says that a file came under the stored name while the entry's file was away from it.
void tellNameTaken(UiServices& ui, const OpenCopy& copy, const char* title) {
    ui.messageBox("The stored file of " + copy.entryPath + " could not be moved back from " +
                      copy.temporaryPath + " to " + copy.storedPath +
                      ": another file has come under that name.  Nothing was replaced: the file "
                      "of " +
                      copy.entryPath + " is kept as " + copy.temporaryPath + ", and the file at " +
                      copy.storedPath +
                      " is left as it is.  Once that file is out of the storage folder, Vantory "
                      "moves " +
                      copy.temporaryPath + " back before its next command, or at its next start.",
                  UiServices::kExclamation, title);
}

// Takes the copy at `temporaryPath` out of the record of open copies.
void forgetOpenCopy(const ProgramState& state, const std::string& temporaryPath) {
    bool readable = true;
    std::vector<OpenCopy> copies = ReadOpenCopies(state, readable);
    std::erase_if(copies,
                  [&](const OpenCopy& copy) { return copy.temporaryPath == temporaryPath; });
    if (readable) {
        (void)WriteOpenCopies(state, copies);
    }
}

// Deletes a recorded plaintext copy, or moves a plain entry's file back to its stored name.
// Returns true when nothing is left under the temporary name.
bool resolve(CommandContext& context, const OpenCopy& copy, bool atStart, bool tell = true) {
    UiServices& ui = context.ui;
    const char* title = atStart ? kInterruptedTitle : kRunTitle;
    if (!platform::pathExists(copy.temporaryPath)) {
        // Without its folder (a drive not connected) nothing is known of the file yet.
        return platform::isFolder(platform::parentFolder(copy.temporaryPath));
    }
    if (copy.sealed) {
        WindowPacing pacing(context.state, ui);
        if (Status removed = RemoveFile(copy.temporaryPath, pacing.always()); !removed.ok()) {
            if (tell) {
                ui.messageBox("The temporary file " + copy.temporaryPath +
                                  " could not be deleted (" + removed.message() +
                                  "). It still holds the content of " + copy.entryPath +
                                  " in the clear. Vantory tries again before its next command and "
                                  "at its next start; the hidden file itself is safe.",
                              UiServices::kExclamation, kNotDeletedTitle);
            }
            return false;
        }
        if (atStart) {
            ui.messageBox("Vantory was closed while " + copy.entryPath +
                              " was open. The copy that was open, " + copy.temporaryPath +
                              ", has been deleted; the hidden file is unchanged.",
                          UiServices::kInformation, kInterruptedTitle);
        }
        return true;
    }
    const Status moved = moveBack(copy);
    if (moved.error == EEXIST) {
        tellNameTaken(ui, copy, title);
        return false;
    }
    if (!moved.ok()) {
        if (!tell) {
            return false;
        }
        ui.messageBox("The stored file of " + copy.entryPath + " could not be moved back from " +
                          copy.temporaryPath + " to " + copy.storedPath + " (" + moved.message() +
                          "). It is kept as " + copy.temporaryPath +
                          ", and Vantory tries again before its next command and at its next "
                          "start.",
                      UiServices::kExclamation, title);
        return false;
    }
    if (atStart) {
        ui.messageBox("Vantory was closed while " + copy.entryPath +
                          " was open. Its stored file has been put back in the storage folder.",
                      UiServices::kInformation, kInterruptedTitle);
    }
    return true;
}

}  // namespace

namespace {

bool resolveAll(CommandContext& context, bool atStart, bool tell) {
    const ProgramState& state = context.state;
    bool readable = true;
    const std::vector<OpenCopy> copies = ReadOpenCopies(state, readable);
    if (!readable) {
        if (atStart) {
            context.ui.messageBox("The record of the files opened with Run Selected File, " +
                                      OpenCopiesPath(state) +
                                      ", cannot be read. It is kept, and no file was deleted.",
                                  UiServices::kExclamation, kInterruptedTitle);
        }
        return true;
    }
    std::vector<OpenCopy> left;
    for (const OpenCopy& copy : copies) {
        if (!resolve(context, copy, atStart, tell)) {
            left.push_back(copy);
        }
    }
    if (left != copies) {
        (void)WriteOpenCopies(state, left);
    }
    return left.empty();
}

}  // namespace

bool ResolveOpenCopies(CommandContext& context, bool atStart) {
    return resolveAll(context, atStart, true);
}

bool RefuseWhileCopiesOpen(CommandContext& context, const std::string& title) {
    if (!platform::pathExists(OpenCopiesPath(context.state)) || resolveAll(context, false, false)) {
        return false;
    }
    bool readable = true;
    std::string text =
        "Vantory did nothing: a file opened with Run Selected File is still in the storage "
        "folder, and this command would leave it behind.  Close the program that uses it, "
        "then choose the command again:";
    for (const OpenCopy& copy : ReadOpenCopies(context.state, readable)) {
        text += "\r\n" + copy.temporaryPath + "  (" + copy.entryPath + ")";
    }
    context.ui.messageBox(text, UiServices::kExclamation, title);
    return true;
}

bool ClearTemporaryName(CommandContext& context, const std::string& temporaryPath, bool atStart) {
    const ProgramState& state = context.state;
    UiServices& ui = context.ui;
    if (!platform::pathExists(temporaryPath)) {
        return true;
    }
    if (atStart && !platform::isRegularFile(temporaryPath)) {
        return false;  // not a file any run of ours leaves: not touched
    }

    // Plain entries whose stored file may be this file.
    std::vector<size_t> owners;
    for (size_t p = 0; p < context.catalogue.size(); ++p) {
        const CatalogueEntry& entry = context.catalogue.at(p);
        if (!entry.sealed && TempName(state, entry.path) == temporaryPath &&
            !platform::pathExists(StoredPath(state, p))) {
            owners.push_back(p);
        }
    }
    if (owners.size() == 1) {
        const size_t owner = owners.front();
        return resolve(
            context,
            {temporaryPath, StoredPath(state, owner), context.catalogue.at(owner).path, false},
            atStart);
    }

    // Nothing says whose it is: kept out of the way of later runs, never deleted.
    const std::optional<std::string> aside = moveAside(temporaryPath);
    ui.messageBox("Vantory found " + temporaryPath +
                      ", left from a hidden file that was open when Vantory was closed or that "
                      "could not be hidden again, and cannot tell which hidden file it belongs "
                      "to. It has been kept" +
                      (aside ? " as " + *aside : std::string(" where it is")) +
                      ". It may hold a hidden file's content in the clear.",
                  UiServices::kExclamation, atStart ? kInterruptedTitle : kRunTitle);
    return aside.has_value();
}

void RecoverTemporaryFiles(CommandContext& context) {
    (void)ResolveOpenCopies(context, true);
    bool readable = true;
    std::set<std::string> seen;
    for (const OpenCopy& copy : ReadOpenCopies(context.state, readable)) {
        seen.insert(copy.temporaryPath);  // reported already
    }
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

    // Whatever else stands under the stored name is neither opened nor moved.
    if (const std::string what = NotAFile(storedPath_); !what.empty()) {
        ui.messageBox(path_ + " could not be opened: " + StoredFileProblem(storedPath_) + ".",
                      UiServices::kExclamation, kRunTitle);
        return;
    }
    state.intProgress = 1;
    state.intProgressTotal = 1;
    context_.busy.OpRunning(true);

    // Copies of earlier runs that are gone or back leave the record; one still under this
    // name, or a file nobody recorded there, must not be lost under the new copy.
    (void)ResolveOpenCopies(context_, false);
    bool readable = true;
    std::vector<OpenCopy> copies = ReadOpenCopies(state, readable);
    const bool nameTaken = std::any_of(copies.begin(), copies.end(), [&](const OpenCopy& copy) {
        return copy.temporaryPath == temporaryPath_;
    });
    if (!readable || nameTaken || !ClearTemporaryName(context_, temporaryPath_, false)) {
        context_.busy.OpRunning(false);
        return;
    }
    copies.push_back(openCopy());
    if (Status recorded = WriteOpenCopies(state, copies); !recorded.ok()) {
        context_.busy.OpRunning(false);
        ui.messageBox(path_ + " could not be opened: the record of open files, " +
                          OpenCopiesPath(state) + ", could not be written (" + recorded.message() +
                          ").",
                      UiServices::kExclamation, kRunTitle);
        return;
    }
    const std::optional<int> attributes = platform::getAttributes(storedPath_);
    if (attributes) {
        (void)platform::setAttributes(storedPath_, platform::kNormal);
    }
    // Whatever came under the temporary name since it was cleared is not replaced.
    WindowPacing pacing(state, ui);
    const Status opened =
        sealed_ ? decryptFileCopy(state, storedPath_, temporaryPath_, true,
                                  platform::Existing::kKeep, nullptr, pacing.slowRun())
                : platform::movePathKeeping(storedPath_, temporaryPath_);
    if (!opened.ok()) {
        forgetOpenCopy(state, temporaryPath_);
        if (attributes && platform::pathExists(storedPath_)) {
            (void)platform::setAttributes(storedPath_, *attributes);
        }
        context_.busy.OpRunning(false);
        const std::string why =
            !attributes ? "its stored copy " + storedPath_ + " is missing"
            : opened.error == EEXIST
                ? "another file has just come under its temporary name " + temporaryPath_ +
                      ".  Nothing was replaced, and the hidden file is as it was"
                : opened.message();
        ui.messageBox(path_ + " could not be opened: " + why + ".", UiServices::kExclamation,
                      kRunTitle);
        return;
    }

    if (!ui.openWithDefaultApplication(temporaryPath_)) {
        // Nothing has the file open, so nothing is waited for: it is put away at once, as the
        // next press would put it away.
        notOpened_ = true;
        state.bolTempFileOpen = true;
        deletePhase();
        notOpened_ = false;
        return;
    }
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
        WindowPacing pacing(state, ui);
        done = RemoveFile(temporaryPath_, pacing.always(), waitLimit_);
    } else {
        const auto deadline = std::chrono::steady_clock::now() + waitLimit_;
        for (;;) {
            if (platform::probePath(temporaryPath_).error == ENOENT) {
                gone = !platform::pathExists(storedPath_);
                break;
            }
            ui.yield();
            done = moveBack(openCopy());
            if (done.ok() || done.error == EEXIST || std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            std::this_thread::sleep_for(kRetryPause);
        }
    }
    if (sealed_ && platform::pathExists(storedPath_)) {
        (void)platform::setAttributes(storedPath_, kHiddenAgain);
    }
    setCaption_(kRunCaption);

    if (!done.ok() && sealed_) {
        ui.messageBox("The temporary file " + temporaryPath_ + " could not be deleted (" +
                          done.message() + "). It still holds the content of " + path_ +
                          " in the clear: delete it yourself once no program uses it, or "
                          "Vantory deletes it before its next command and at its next start. "
                          "The hidden file itself is safe.",
                      UiServices::kExclamation, kNotDeletedTitle);
    } else if (done.error == EEXIST) {
        // As at the start: the file stays under its temporary name, recorded, and is moved
        // back once the name is free; pressing again could not free it, so the wait ends.
        tellNameTaken(ui, openCopy(), kRunTitle);
    } else if (!done.ok()) {
        // The file itself is under the temporary name: the window waits on for another try.
        setCaption_(kDeleteTemporaryCaption);
        deleting_ = false;
        context_.busy.OpRunning(false);
        context_.busy.OpRunning(true);
        ui.messageBox(path_ + " could not be moved back from " + temporaryPath_ + " (" +
                          done.message() +
                          "). It is kept there: press the button again once no program uses "
                          "it. Should Vantory be closed first, it moves the file back at its "
                          "next start.",
                      UiServices::kExclamation, kNotDeletedTitle);
        return;
    } else if (gone) {
        forgetOpenCopy(state, temporaryPath_);
        ui.messageBox("The temporary file " + temporaryPath_ + " is no longer there, so " + path_ +
                          " could not be hidden again: it has no stored file.",
                      UiServices::kExclamation, kNotDeletedTitle);
    } else if (notOpened_) {
        forgetOpenCopy(state, temporaryPath_);
        ui.messageBox(path_ +
                          " was not opened: no application could be started for it. It stays "
                          "hidden.",
                      UiServices::kExclamation, kRunTitle);
    } else {
        forgetOpenCopy(state, temporaryPath_);
        ui.messageBox("Temporary file deleted", UiServices::kInformation, "File deleted");
    }

    state.bolTempFileOpen = false;
    deleting_ = false;
    context_.busy.OpRunning(false);
}

}  // namespace vantory
