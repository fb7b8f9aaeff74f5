#pragma once

#include <optional>
#include <span>
#include <string>

#include "store/program_state.h"

namespace vantory {

// The main window's controls and how they follow the window's size, in the pixels of a
// 96-dpi screen (15 twips make a pixel): the catalogue on the left under its filter box, a
// strip of two tabs with the commands and settings on the right.
namespace main_form {

inline constexpr int kStripWidth = 289;    // the tab strip never changes its width
inline constexpr int kRightMargin = 10;    // between the strip and the window's edge
inline constexpr int kListWidth = 297;     // the list's width at opening
inline constexpr int kOpeningWidth = 588;  // client area at opening
// The client area opens at 8820 x 4830 twips, made taller for today's fonts, which need a row
// of two-line tabs and more room per line of help text, and by a row for the idle lock below
// slow run.
inline constexpr int kOpeningHeight = 370;
inline constexpr int kMinimumHeight = kOpeningHeight;               // lower than this snaps back
inline constexpr int kNarrowestWidth = kStripWidth - kRightMargin;  // narrower snaps back
// The help labels use a small face.
inline constexpr double kHelpPointSize = 6.75;

inline constexpr const char* kFilterPlaceholder = "Filter the list";
inline constexpr const char* kIdleLockSuffix = " min";
inline constexpr const char* kIdleLockNever = "Never";  // the minutes at 0

enum class Page { kManageFiles, kAccessAndSecurity };
// The tabs' captions, in the order of Page.
inline constexpr const char* kPageCaptions[] = {"&Manage Files", "&Access and Security Control"};

enum class Kind {
    kButton,
    kHelpLabel,  // small text that wraps inside its rectangle
    kCheckBox,   // as wide as its caption needs, centred on its rectangle if `centred`
    kMinutes,    // the idle-lock minutes, 0 to kMaxIdleLockMinutes, 0 shown as "Never"
};

struct Rect {
    int left, top, width, height;
    bool operator==(const Rect&) const = default;
};

struct Control {
    const char* name;  // lstFileList, cmdAddFile, ...: the name tests and tools reach it by
    Kind kind;
    Page page;
    // The caption or help text as written once; null where it is made (see Caption).
    const char* caption;
    Rect twips;  // measured from the top-left corner of the tab strip
    bool centred = false;
};

// Every control of the tab pages, in the order they take the keyboard focus and their
// mnemonics. The buttons come before the tabs' captions: a mnemonic two controls share goes
// to each in turn in the order they took it, so Alt+A first reaches Restore All Files on the
// page shown and then the tab.
std::span<const Control> Controls();
// The control named `name`; null if none is.
const Control* Find(const char* name);
// The control's caption or help text, with the storage folder and extension of `state` in the
// labels beside their buttons; empty for the minutes.
std::string Caption(const Control& control, const ProgramState& state);
// Where a control sits on its page, in pixels: the page starts below the real row of tabs,
// with the same gap above the first controls as there once was below a row 400 twips high.
Rect PageRect(const Control& control);

// Where the list, its filter box and the strip go when the window has a new size.
struct Layout {
    // Too low: the window is given this height, and laid out again once it has it.
    std::optional<int> snapHeight;
    // Too narrow: the window is given this width once the heights below are set, and laid
    // out again once it has it.
    std::optional<int> snapWidth;
    int stripHeight = 0;  // the strip, and the filter box with the list, fill the height
    int listHeight = 0;   // below the filter box
    int stripLeft = 0;
    // The width of the filter box and the list; none between the narrowest width and the
    // strip's own, where the list cannot shrink below nothing and keeps the width it had.
    std::optional<int> listWidth;
};

// `width` and `height` are the window's, `clientHeight` what its controls have of it.
// `sizeGiven`: minimised, maximised or full screen, where the window keeps the size it is
// given and the controls still follow it.
Layout LayOut(int width, int height, int clientHeight, int filterHeight, bool sizeGiven);

}  // namespace main_form
}  // namespace vantory
