// The panes list, sort, navigate, filter, summarise and gather as a user meets them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <wx/uiaction.h>

#include "panes/windows/pane_state.h"
#include "tests/gui_support/window_test_support.h"
#include "tests/panes/pane_fixture.h"

using ::testing::ElementsAre;

TEST_F(PaneTest, BothPanesListTheirFoldersWithTheColumnTexts) {
    EXPECT_THAT(Column(PcPane(), 0),
                ElementsAre("..", "Alpha", "Beta", "big.bin", "show.TP0", "small.txt"));
    EXPECT_THAT(Column(ReceiverPane(), 0), ElementsAre("JUKEBOX", "MOVIES", "archive", "Kochen.TP0",
                                                       "News.TP0", "radio.RAD", "TM_SHIFT.000"));
    window_test::SaveScreenshot(frame_, "panes_listed");
}
