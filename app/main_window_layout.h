// Where every control of the main window goes for a client area of W × H pixels: the two
// panes side by side with the command column between them, each pane's path row above it and
// its information bar and pie below it.
#pragma once

#include <vector>

struct ControlPlace {
    int id;
    int left, top, width, height;
};

// Control ids of the main window.
namespace main_window {
inline constexpr int kDrives = 1000;
inline constexpr int kLeftPath = 1004, kRightPath = 1005;
inline constexpr int kLeftList = 1008, kRightList = 1009;
inline constexpr int kRightPie = 1031, kLeftPie = 1032;
inline constexpr int kLeftOlder = 1034, kRightOlder = 1036;
inline constexpr int kLeftNewer = 1037, kRightNewer = 1038;
inline constexpr int kTransfer = 1039, kRename = 1040, kDelete = 1041, kSettings = 1042;
inline constexpr int kLeftInfo = 1043, kRightInfo = 1044;
inline constexpr int kCreateDir = 1045, kAbout = 1046;
inline constexpr int kSeparator = 1047, kPvrLabel = 1048;
inline constexpr int kSearch = 1053;
// The check box "Verify copies", beyond the window's original controls.
inline constexpr int kVerify = 1054;
}  // namespace main_window

std::vector<ControlPlace> MainWindowLayout(int width, int height);
