#pragma once

#include <string>

#include "store/program_state.h"

namespace vantory {

inline constexpr const char* kProductName = "Corvantis Vantory";
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;

// "Corvantis Vantory v1.0": product name, major and minor version.
std::string MainCaption();
// The help texts beside Set Storage Folder and Set Encrypted File Extension, with the
// current folder and extension.
std::string StorageLabelText(const ProgramState& state);
std::string ExtensionLabelText(const ProgramState& state);

// The help texts are the program's own words, double spaces and all.
inline constexpr const char* kAddFileHelp = "Add a file from your computer to be hidden";
inline constexpr const char* kRestoreFileHelp =
    "Puts the selected file back in its orginal location";
inline constexpr const char* kRestoreHelp = "Puts all the files back in their orginal location";
inline constexpr const char* kShellHelpStart =
    "This allows you to temporarily run a file.  The file will be created in the storage "
    "folder under the name tempFile and whatever extension the file originally was.  When "
    "you are finished running the file you click the button again and it will delete the "
    "temporary file, hiding the file";
inline constexpr int kShellHelpSpaces = 82;  // they push the note onto a line of its own
inline constexpr const char* kShellHelpNote =
    "NOTE:  The temporary file will not be deleted until you close the file!!!";
inline constexpr const char* kChangePassHelp =
    "This changes the password used  to access the program and to encrypt the files.  NOTE: "
    "This operation can take a long time, as it decrypts and then re-encrypts every file in "
    "the list";
inline constexpr const char* kSlowRunHelp =
    "If checked, the encryption and decryption process goes slower but uses less memory and "
    "processor time";
inline constexpr const char* kStorageHelp =
    "This is the folder where the encrypted files are saved.  If you want to keep you files "
    "hidden, then place this someone where people do not usually look, such as "
    "c:\\windows\\system\\";
inline constexpr const char* kExtensionHelp =
    "This changes the extension that the encrypted files are saved with.  If you are looking "
    "to hide your files, use something that does not attract attention, such as txt or dat";
inline constexpr const char* kIdleLockHelp =
    "Minutes without use before Vantory locks and asks for the password";

}  // namespace vantory
