// The main window's layout table.
#include "app/main_window_layout.h"

#include <gtest/gtest.h>

#include <map>

using namespace main_window;

namespace {
std::map<int, ControlPlace> ById(int width, int height) {
    std::map<int, ControlPlace> places;
    for (const ControlPlace& place : MainWindowLayout(width, height)) places[place.id] = place;
    return places;
}
}  // namespace

TEST(MainWindowLayout, PanesSideBySideWithTheCommandColumnBetween) {
    auto at = ById(1000, 600);
    EXPECT_EQ(at.size(), 23u);
    EXPECT_EQ(at[kLeftList].width, 426);  // d - 4 with d = 430
    EXPECT_EQ(at[kRightList].left, 570);
    EXPECT_EQ(at[kRightList].width, 430);
    EXPECT_EQ(at[kLeftList].height, 495);
    // The command column starts at half - 67 and ends before the right pane.
    EXPECT_EQ(at[kTransfer].left, 433);
    EXPECT_LE(at[kTransfer].left + at[kTransfer].width, at[kRightList].left);
    EXPECT_GE(at[kTransfer].left, at[kLeftList].left + at[kLeftList].width);
    // Bottom row hangs off the bottom edge.
    EXPECT_EQ(at[kAbout].top + at[kAbout].height, 597);
    EXPECT_EQ(at[kLeftInfo].top + at[kLeftInfo].height, 601);
    // An odd width rounds half down.
    EXPECT_EQ(ById(1001, 600)[kRightList].left, 570);
}
