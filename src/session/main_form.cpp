#include "session/main_form.h"

#include <cstring>

#include "session/captions.h"

namespace vantory::main_form {

namespace {

using enum Kind;
constexpr Page kManage = Page::kManageFiles;
constexpr Page kAccess = Page::kAccessAndSecurity;

// The labels beside the two storage buttons reach a little further down than they once did
// (975 and 1215 twips): with today's fonts their texts need the room. The idle lock sits in
// the row below slow run: the minutes in the column of the buttons, what they mean beside them.
constexpr Control kControls[] = {
    {"cmdAddFile", kButton, kManage, "&Hide File(s)", {240, 600, 1095, 735}},
    {"cmdRestoreFile", kButton, kManage, "Restore &Selected File(s)", {1680, 600, 975, 735}},
    {"cmdRestore", kButton, kManage, "Restore &All Files", {3120, 600, 975, 735}},
    {"lblAddFile", kHelpLabel, kManage, kAddFileHelp, {240, 1440, 1095, 615}},
    {"lblRestoreFile", kHelpLabel, kManage, kRestoreFileHelp, {1560, 1440, 1215, 615}},
    {"lblRestore", kHelpLabel, kManage, kRestoreHelp, {3000, 1440, 1215, 615}},
    {"chkEncrypt",
     kCheckBox,
     kManage,
     "&Encrypt File(s) When Hiding Them",
     {840, 2160, 2655, 255},
     true},
    {"cmdShell", kButton, kManage, "&Run Selected File", {240, 2520, 3975, 735}},
    {"lblShell", kHelpLabel, kManage, nullptr, {240, 3360, 3975, 1335}},
    {"cmdChangePass", kButton, kAccess, "Change &Password", {240, 600, 975, 975}},
    {"lblChangePass", kHelpLabel, kAccess, kChangePassHelp, {1440, 600, 2775, 975}},
    {"cmdSetExten", kButton, kAccess, "Set Encrypted File &Extension", {240, 1680, 975, 975}},
    {"lblSetExten", kHelpLabel, kAccess, nullptr, {1440, 1680, 2775, 1050}},
    {"cmdSetStorDir", kButton, kAccess, "Set Storage &Folder", {240, 2760, 975, 975}},
    {"lblSetStore", kHelpLabel, kAccess, nullptr, {1440, 2760, 2775, 1305}},
    {"lblSlowRun", kHelpLabel, kAccess, kSlowRunHelp, {1440, 4080, 2775, 615}},
    {"chkSlowRun", kCheckBox, kAccess, "&Slow Run", {240, 4200, 1095, 315}},
    {"spnIdleLock", kMinutes, kAccess, nullptr, {240, 4800, 975, 360}},
    {"lblIdleLock", kHelpLabel, kAccess, kIdleLockHelp, {1440, 4800, 2775, 420}},
};

// The rectangles count from the strip's top, where a row of tabs 400 twips high once sat.
constexpr int kPageTop = 30;
constexpr int kPageLeft = 1;
constexpr int kTwipsPerPixel = 15;

}  // namespace

std::span<const Control> Controls() {
    return kControls;
}

const Control* Find(const char* name) {
    for (const Control& control : kControls) {
        if (std::strcmp(control.name, name) == 0) {
            return &control;
        }
    }
    return nullptr;
}

std::string Caption(const Control& control, const ProgramState& state) {
    if (control.caption != nullptr) {
        return control.caption;
    }
    const std::string_view name = control.name;
    if (name == "lblShell") {
        // The spaces push the note onto a line of its own.
        return std::string(kShellHelpStart) + std::string(kShellHelpSpaces, ' ') + kShellHelpNote;
    }
    if (name == "lblSetExten") {
        return ExtensionLabelText(state);
    }
    if (name == "lblSetStore") {
        return StorageLabelText(state);
    }
    return {};
}

Rect PageRect(const Control& control) {
    const Rect& t = control.twips;
    return {t.left / kTwipsPerPixel - kPageLeft, t.top / kTwipsPerPixel - kPageTop,
            t.width / kTwipsPerPixel, t.height / kTwipsPerPixel};
}

Layout LayOut(int width, int height, int clientHeight, int filterHeight, bool sizeGiven) {
    Layout layout;
    if (!sizeGiven && height < kMinimumHeight) {
        layout.snapHeight = kMinimumHeight;
        return layout;
    }
    layout.stripHeight = clientHeight;
    layout.listHeight = clientHeight - filterHeight;
    if (!sizeGiven && width < kNarrowestWidth) {
        layout.snapWidth = kOpeningWidth;
        return layout;
    }
    layout.stripLeft = width - kStripWidth - kRightMargin;
    if (layout.stripLeft >= 0) {
        layout.listWidth = layout.stripLeft;
    }
    return layout;
}

}  // namespace vantory::main_form
