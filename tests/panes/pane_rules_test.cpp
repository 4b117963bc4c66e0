// The selection's summary line and the receiver pane's folder rules.
#include <gtest/gtest.h>

#include "panes/receiver_path_rules.h"
#include "panes/selection_summary.h"

TEST(SelectionSummaryTest, CountsAndSizesInTheirUnits) {
    EXPECT_EQ(SelectionSummary(0, 0), "");
    EXPECT_EQ(SelectionSummary(2, 0), "2 file selected, 0 KByte\n");
    EXPECT_EQ(SelectionSummary(1, 1023), "1 file selected, 1023 KByte\n");
    EXPECT_EQ(SelectionSummary(1, 1024), "1 file selected, 1 MByte\n");
    EXPECT_EQ(SelectionSummary(1, 1048575), "1 file selected, 1023 MByte\n");
    EXPECT_EQ(SelectionSummary(1, 1048576), "1 file selected, 1.000 GByte\n");
    EXPECT_EQ(SelectionSummary(3, 5ull << 30), "3 file selected, 5120.000 GByte\n");
}

TEST(ReceiverPathRulesTest, TheRootIsCBackslashAndNoOtherFolderEndsInOne) {
    EXPECT_EQ(ReceiverFolderOf("C:\\REC\\"), "C:\\REC");
    EXPECT_EQ(ReceiverFolderOf("C:\\\\REC"), "C:\\REC");
    EXPECT_EQ(ReceiverFolderOf("C:\\"), "C:\\");
    EXPECT_EQ(ReceiverFolderOf("C:"), "C:\\");
    EXPECT_EQ(ReceiverFolderInto("C:\\", "MOVIES"), "C:\\MOVIES");
    EXPECT_EQ(ReceiverFolderInto("C:\\MOVIES", "Old"), "C:\\MOVIES\\Old");
    EXPECT_EQ(ReceiverFolderUp("C:\\MOVIES\\Old"), "C:\\MOVIES");
    EXPECT_EQ(ReceiverFolderUp("C:\\MOVIES"), "C:\\");
    EXPECT_EQ(ReceiverFolderUp("C:\\"), "C:\\");
}
