#include "commands/startup.h"

#include <cerrno>

#include "commands/command_context.h"
#include "commands/storage_lock.h"
#include "store/settings_file.h"

namespace vantory {

namespace {

void useFactorySettings(ProgramState& state) {
    SetPassword(state, kFactoryPassword);
    (void)SetStorageDir(state, state.strSystemDir + platform::kSeparator);
    SetExtension(state, kFactoryExtension);
}

}  // namespace

void ShowUnusableSettingsFile(const ProgramState& state, UiServices& ui, const Result& status) {
    std::string text = "Vantory cannot use its settings file " + SettingsPath(state) + ": " +
                       SettingsFileProblem(status) +
                       ".\r\nThe file is left as it is, and no hidden file has been touched.  "
                       "Vantory closes now.  ";
    if (IsSettingsDamage(status)) {
        text +=
            "To get back to the hidden files, run \"vantory --salvage\": it keeps this file as "
            "regInfo.lst.damaged, writes a new one that lists every entry it can still read, and "
            "puts the stored files of the entries it cannot read into a \"recovered\" folder "
            "beside the storage folder.";
    } else {
        text +=
            "Once the file can be read again, start Vantory again; to start afresh instead, move "
            "the file elsewhere (the files in the storage folder stay where they are).";
    }
    ui.messageBox(text, UiServices::kExclamation, "Settings file");
}

StartOutcome PrepareStart(ProgramState& state, UiServices& ui) {
    const Status folder = GetSysDir(state);
    if (ui.previousInstanceRunning(state.strSystemDir)) {
        return StartOutcome::kAnotherInstance;
    }
    const bool there = platform::isFolder(state.strSystemDir);
    // Anything at all under the settings file's name is read rather than written over.
    const bool factory = !platform::pathExists(SettingsPath(state));
    if (factory) {
        // Settings that cannot be kept would be lost with every hidden file's place in the
        // list, so the start ends before a password is asked, with this one message.
        Status written = folder.ok() ? Status{ENOTDIR} : folder;
        if (there) {
            useFactorySettings(state);
            written = WriteFactorySettings(state);
        }
        if (!written.ok()) {
            const std::string cannot = there ? "written" : "made";
            ui.messageBox("The settings folder " + state.strSystemDir + " cannot be " + cannot +
                              " (" + written.message() +
                              "), so Vantory cannot keep its settings and list of hidden "
                              "files.  Nothing was changed, and Vantory closes now; start it "
                              "again once the folder can be " +
                              cannot + ".",
                          UiServices::kExclamation, "Settings folder");
            return StartOutcome::kSettingsUnusable;
        }
    }
    if (!folder.ok() && there) {
        ui.messageBox("The settings folder " + state.strSystemDir +
                          " is open to other users, and Vantory could not make it private (" +
                          folder.message() +
                          ").  Vantory goes on; to keep others out of it, "
                          "make it yours alone (chmod 700 " +
                          state.strSystemDir + ").",
                      UiServices::kExclamation, "Settings folder");
    }
    if (factory) {
        ui.messageBox("Program file not found.  Password reset to '" + state.strPassword +
                          "'\r\nHidden file storage directory set to " + state.strStorageDir +
                          "\r\nHidden file extension set to " + state.strExtension,
                      UiServices::kInformation, "Program file not found");
    }
    if (Result s = ReadSettings(state, WindowPacing(state, ui).slowRun()); !s.ok()) {
        ShowUnusableSettingsFile(state, ui, s);
        return StartOutcome::kSettingsUnusable;
    }
    if (!ClaimStorageFolder(state, ui, true)) {
        return StartOutcome::kStorageInUse;
    }
    return factory ? StartOutcome::kFactorySettings : StartOutcome::kReady;
}

bool PasswordMatches(const ProgramState& state, const std::string& typed) {
    return typed == state.strPassword;
}

bool PasswordCanBeTyped(std::string_view password) {
    return password.find_first_of("\r\n") == std::string_view::npos;
}

void ShowInvalidPassword(UiServices& ui) {
    ui.messageBox("Invalid Password, try again!", UiServices::kPlain, kLoginCaption);
}

void ShowPasswordHelp(UiServices& ui) {
    ui.messageBox(
        "If this is the first time Corvantis Vantory has been run on this computer, the default "
        "password is \"kumquat\", which you should change to ensure that your files are "
        "secure.\r\nOther than that, you need to enter the password that you set in order to "
        "gain access to the files.",
        UiServices::kExclamation, "Password Help");
}

}  // namespace vantory
