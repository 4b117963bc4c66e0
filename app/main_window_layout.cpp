#include "app/main_window_layout.h"

using namespace main_window;

std::vector<ControlPlace> MainWindowLayout(int W, int H) {
    const int half = W / 2;
    const int d = half - 70;
    const int x = half - 67;
    return {
        {kSeparator, 0, 34, W, 5},
        {kLeftOlder, 3, 3, 29, 29},
        {kLeftNewer, 31, 3, 29, 29},
        {kDrives, 65, 6, 50, 220},
        {kLeftPath, 115, 6, d - 119, 220},
        {kLeftList, 0, 38, d - 4, H - 105},
        {kLeftPie, 3, H - 58, 65, 50},
        {kLeftInfo, -1, H - 63, d - 3, 64},
        {kRightOlder, half + 70, 3, 29, 29},
        {kRightNewer, half + 98, 3, 29, 29},
        {kPvrLabel, half + 132, 6, 50, 21},
        {kRightPath, half + 182, 6, d - 117, 220},
        {kSearch, x, 6, 130, 21},
        {kRightList, half + 70, 38, d, H - 105},
        {kRightPie, half + 73, H - 58, 65, 50},
        {kRightInfo, half + 70, H - 63, d, 64},
        {kTransfer, x, 133, 130, 25},
        {kRename, x, 166, 130, 25},
        {kDelete, x, 199, 130, 25},
        {kCreateDir, x, 233, 130, 25},
        {kVerify, x, 266, 130, 21},
        {kSettings, x, H - 91, 130, 25},
        {kAbout, x, H - 63, 130, 60},
    };
}
