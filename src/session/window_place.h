#pragma once

#include <optional>
#include <vector>

#include "store/preferences.h"

namespace vantory {

// Where the main window opens when it was left at `place` (vantory.conf). A place whose title
// bar cannot be reached, on no screen there is now, is not used: the window system places the
// window then, at the size it had, shrunk to fit the first screen.
struct ScreenArea {
    int x = 0, y = 0, width = 0, height = 0;  // the part windows may use
};

struct OpeningPlace {
    int width = 0, height = 0;  // of what is inside the frame
    std::optional<int> x, y;    // of the frame's top-left corner; none: the system chooses
    bool maximized = false;
};

// A remembered place is used when at least this much of the top of the window's frame (its
// title bar) is on a screen: so much of its height, and of its width.
inline constexpr int kTitleBarGrip = 8;
inline constexpr int kReachableTitleBar = 100;

// `screens` in the system's order, the primary one first.
OpeningPlace PlaceAsLeft(const WindowPlace& place, const std::vector<ScreenArea>& screens);

}  // namespace vantory
