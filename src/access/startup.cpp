#include "access/startup.h"

#include "store/settings_file.h"

namespace vantory {

namespace {

void useFactorySettings(ProgramState& state) {
    SetPassword(state, kFactoryPassword);
    (void)SetStorageDir(state, state.strSystemDir + platform::kSeparator);
    SetExtension(state, kFactoryExtension);
}

void reportUnusableSettingsFile(const ProgramState& state, UiServices& ui, const char* what,
                                const Status& status) {
    ui.messageBox(std::string("Vantory could not ") + what + " its settings file " +
                      SettingsPath(state) + " (" + status.message() +
                      ").\r\nThe factory settings are used for now; the password is \"" +
                      kFactoryPassword + "\".",
                  UiServices::kExclamation, "Settings file");
}

}  // namespace

StartOutcome PrepareStart(ProgramState& state, UiServices& ui) {
    (void)GetSysDir(state);  // a folder that cannot be made shows up as a file that cannot be
    if (ui.previousInstanceRunning(state.strSystemDir)) {
        return StartOutcome::kAnotherInstance;
    }
    // Anything at all under the settings file's name is read rather than written over.
    bool factoryWritten = false;
    if (!platform::pathExists(SettingsPath(state))) {
        useFactorySettings(state);
        if (Status s = WriteFactorySettings(state, ui); !s.ok()) {
            reportUnusableSettingsFile(state, ui, "create", s);
            return StartOutcome::kFactorySettings;
        }
        factoryWritten = true;
        ui.messageBox("Program file not found.  Password reset to '" + state.strPassword +
                          "'\r\nHidden file storage directory set to " + state.strStorageDir +
                          "\r\nHidden file extension set to " + state.strExtension,
                      UiServices::kInformation, "Program file not found");
    }
    if (Status s = ReadSettings(state, ui); !s.ok()) {
        useFactorySettings(state);
        reportUnusableSettingsFile(state, ui, "read", s);
        return StartOutcome::kFactorySettings;
    }
    return factoryWritten ? StartOutcome::kFactorySettings : StartOutcome::kReady;
}

bool PasswordMatches(const ProgramState& state, const std::string& typed) {
    return typed == state.strPassword;
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
