#include "session/window_place.h"

#include <algorithm>

namespace vantory {

namespace {

// How much of the rectangle (x, y, width, height) lies on the screen, across and down.
std::pair<int, int> Overlap(const ScreenArea& screen, int x, int y, int width, int height) {
    const int across = std::min(screen.x + screen.width, x + width) - std::max(screen.x, x);
    const int down = std::min(screen.y + screen.height, y + height) - std::max(screen.y, y);
    return {std::max(across, 0), std::max(down, 0)};
}

}  // namespace

OpeningPlace PlaceAsLeft(const WindowPlace& place, const std::vector<ScreenArea>& screens) {
    const ScreenArea* reached = nullptr;
    for (const ScreenArea& screen : screens) {
        const auto [across, down] =
            Overlap(screen, place.x, place.y, place.width, 2 * kTitleBarGrip);
        if (across >= std::min(place.width, kReachableTitleBar) && down >= kTitleBarGrip) {
            reached = &screen;
            break;
        }
    }
    const ScreenArea* sizing = reached != nullptr ? reached
                               : screens.empty()  ? nullptr
                                                  : &screens[0];
    OpeningPlace opening;
    // The resize rules snap back a size too small.
    opening.width = sizing != nullptr ? std::min(place.width, sizing->width) : place.width;
    opening.height = sizing != nullptr ? std::min(place.height, sizing->height) : place.height;
    if (reached != nullptr) {
        opening.x = place.x;
        opening.y = place.y;
    }
    opening.maximized = place.maximized;
    return opening;
}

}  // namespace vantory
