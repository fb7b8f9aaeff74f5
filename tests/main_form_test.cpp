#include "session/main_form.h"

#include <gtest/gtest.h>

#include "session/window_place.h"

namespace vantory {
namespace {

TEST(MainFormTest, theStripStaysRightAndTooSmallASizeSnapsBack) {
    constexpr int kFilter = 20;
    struct Row {
        const char* name;
        int width, height;
        bool sizeGiven;  // maximised, minimised or full screen
        std::optional<int> snapHeight, snapWidth;
        int stripLeft;
        std::optional<int> listWidth;
    };
    for (const Row& row : {
             Row{"roomy", 800, 500, false, {}, {}, 501, 501},
             Row{"too low", 700, 120, false, 370, {}, 0, {}},
             Row{"too narrow", 200, 400, false, {}, 588, 0, {}},
             Row{"narrower than the strip", 290, 400, false, {}, {}, -9, {}},
             Row{"maximised takes any size", 200, 120, true, {}, {}, -99, {}},
         }) {
        SCOPED_TRACE(row.name);
        const main_form::Layout layout =
            main_form::LayOut(row.width, row.height, row.height, kFilter, row.sizeGiven);
        EXPECT_EQ(layout.snapHeight, row.snapHeight);
        EXPECT_EQ(layout.snapWidth, row.snapWidth);
        if (!row.snapHeight) {
            EXPECT_EQ(layout.stripHeight, row.height) << "the strip fills the height";
            EXPECT_EQ(layout.listHeight, row.height - kFilter) << "the list below the filter";
        }
        if (!row.snapHeight && !row.snapWidth) {
            EXPECT_EQ(layout.stripLeft, row.stripLeft);
            EXPECT_EQ(layout.listWidth, row.listWidth);
        }
    }
}

TEST(MainFormTest, theWindowOpensAsLeftWhereItsTitleBarCanBeReached) {
    const std::vector<ScreenArea> screens = {{0, 0, 1000, 800}, {1000, 0, 800, 600}};
    struct Row {
        const char* name;
        WindowPlace left;
        std::optional<int> x;  // none: the system places it
        int width, height;
    };
    for (const Row& row : {
             Row{"as left", {30, 40, 700, 450}, 30, 700, 450},
             Row{"maximised", {30, 40, 700, 450, true}, 30, 700, 450},
             Row{"mostly off the left", {-650, 40, 700, 450}, {}, 700, 450},
             Row{"title bar above", {30, -9, 700, 450}, {}, 700, 450},
             Row{"below every screen", {30, 5000, 700, 450}, {}, 700, 450},
             Row{"wider than the screen", {30, 40, 99999, 450}, 30, 1000, 450},
             Row{"on the second screen", {1200, 100, 700, 700}, 1200, 700, 600},
             Row{"a narrow one all on screen", {5, 40, 50, 450}, 5, 50, 450},
             Row{"across both", {950, 40, 700, 450}, 950, 700, 450},
         }) {
        SCOPED_TRACE(row.name);
        const OpeningPlace opening = PlaceAsLeft(row.left, screens);
        EXPECT_EQ(opening.x, row.x);
        EXPECT_EQ(opening.y.has_value(), row.x.has_value());
        EXPECT_EQ(opening.width, row.width);
        EXPECT_EQ(opening.height, row.height);
        EXPECT_EQ(opening.maximized, row.left.maximized);
    }
    EXPECT_EQ(PlaceAsLeft({30, 40, 700, 450}, {}).width, 700) << "no screen known: as left";
}

}  // namespace
}  // namespace vantory
