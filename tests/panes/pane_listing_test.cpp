// The panes list, sort, navigate, filter, summarise and gather as a user meets them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/clipbrd.h>
#include <wx/settings.h>
#include <wx/uiaction.h>

#include "panes/windows/pane_state.h"
#include "platform/profile_store.h"
#include "platform/shell_open.h"
#include "pvrdisk/pcfm.h"
#include "tests/gui_support/modal_driver.h"
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

namespace {

// The header's point over column `column` (its middle, or its right divider), on the screen.
wxPoint HeaderPoint(CDirListCtrl* pane, int column, bool divider) {
    int x = 0;
    for (int c = 0; c < column; ++c) x += pane->GetColumnWidth(c);
    x += divider ? pane->GetColumnWidth(column) - 1 : pane->GetColumnWidth(column) / 2;
    return pane->ClientToScreen(wxPoint(x, 10));
}

void ClickHeader(CDirListCtrl* pane, int column) {
    PauseBetweenClicks();
    wxUIActionSimulator simulator;
    simulator.MouseMove(HeaderPoint(pane, column, false));
    window_test::PumpFor(30);
    simulator.MouseClick();
    window_test::PumpFor(80);
}

std::vector<std::string> FileNames(CDirListCtrl* pane) {
    std::vector<std::string> names;
    for (long row = 0; row < pane->GetItemCount(); ++row)
        if (pane->RecordAt(row)->isFile) names.push_back(pane->RecordAt(row)->name);
    return names;
}

wxColour Highlight() {
    return wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT);
}

}  // namespace

TEST_F(PaneTest, AColumnClickSortsFilesAndAClickAgainTurnsTheOrder) {
    CDirListCtrl* pane = PcPane();
    ClickHeader(pane, 2);
    EXPECT_THAT(FileNames(pane), ElementsAre("small.txt", "show.TP0", "big.bin"));
    ClickHeader(pane, 2);
    EXPECT_THAT(FileNames(pane), ElementsAre("big.bin", "show.TP0", "small.txt"));
    // Folders stay first, in ascending order, whatever the files' order.
    EXPECT_THAT(Column(pane, 0), ::testing::IsSupersetOf({"..", "Alpha", "Beta"}));
    EXPECT_EQ(Column(pane, 0)[1], "Alpha");
    EXPECT_EQ(platform::Profile().GetInt("List 0", "SortColumn", -1), 2);
    EXPECT_EQ(platform::Profile().GetInt("List 0", "SortOrder 2", -1), 0);
    // Another column brings back its own order; returning to the size column restores
    // descending.
    ClickHeader(pane, 0);
    EXPECT_THAT(FileNames(pane), ElementsAre("big.bin", "show.TP0", "small.txt"));
    ClickHeader(pane, 2);
    EXPECT_THAT(FileNames(pane), ElementsAre("big.bin", "show.TP0", "small.txt"));
    EXPECT_EQ(pane->GetSortState().order, 0);
    window_test::SaveScreenshot(frame_, "panes_sorted_by_size");
}

TEST_F(PaneTest, ColumnWidthsAreKeptOnADividerDragAndWhenThePaneGoes) {
    CDirListCtrl* pane = ReceiverPane();
    const int before = pane->GetColumnWidth(2);
    wxUIActionSimulator simulator;
    const wxPoint divider = HeaderPoint(pane, 2, true);
    simulator.MouseMove(divider);
    window_test::PumpFor(50);
    simulator.MouseDown();
    window_test::PumpFor(50);
    for (int step = 1; step <= 8; ++step) {
        simulator.MouseMove(divider + wxPoint(5 * step, 0));
        window_test::PumpFor(20);
    }
    simulator.MouseUp();
    window_test::PumpFor(100);
    const int dragged = pane->GetColumnWidth(2);
    EXPECT_GT(dragged, before + 20);
    EXPECT_EQ(platform::Profile().GetInt("List 1", "ColumnWidth 2", 0), dragged);

    pane->SetColumnWidth(4, 123);
    frame_->MakePane(1);  // the old pane is destroyed first
    EXPECT_EQ(platform::Profile().GetInt("List 1", "ColumnWidth 4", 0), 123);
    EXPECT_EQ(ReceiverPane()->GetColumnWidth(2), dragged);
    EXPECT_EQ(ReceiverPane()->GetColumnWidth(4), 123);
}

TEST_F(PaneTest, AStoredWidthOfNoneGivesTheColumnItsDefault) {
    delete frame_->panes[0];  // it stores its widths as it goes
    frame_->panes[0] = nullptr;
    platform::Profile().WriteInt("List 0", "ColumnWidth 3", 0);
    platform::Profile().WriteInt("List 0", "ColumnWidth 2", 90);
    frame_->MakePane(0);
    EXPECT_EQ(PcPane()->GetColumnWidth(3), 5);
    EXPECT_EQ(PcPane()->GetColumnWidth(2), 90);
}

TEST_F(PaneTest, TheReceiverPaneEntersFoldersAndGoesUpToTheRoot) {
    CDirListCtrl* pane = ReceiverPane();
    DoubleClickRow(pane, RowNamed(pane, "MOVIES"));
    EXPECT_EQ(pane->GetCurrentDir(), "C:\\MOVIES");
    EXPECT_EQ(frame_->path_boxes[1]->GetValue(), "C:\\MOVIES");
    EXPECT_THAT(Column(pane, 0), ElementsAre("..", "Old", "Film.TP0"));
    window_test::SaveScreenshot(frame_, "panes_receiver_in_movies");

    // Enter opens the row at the selection mark.
    ClickRow(pane, RowNamed(pane, "Old"));
    window_test::PressKey(WXK_RETURN);
    window_test::PumpFor(100);
    EXPECT_EQ(pane->GetCurrentDir(), "C:\\MOVIES\\Old");

    DoubleClickRow(pane, RowNamed(pane, ".."));
    EXPECT_EQ(pane->GetCurrentDir(), "C:\\MOVIES");
    DoubleClickRow(pane, RowNamed(pane, ".."));
    EXPECT_EQ(pane->GetCurrentDir(), "C:\\");
    EXPECT_EQ(RowNamed(pane, ".."), -1);
    // A file is no folder to enter.
    DoubleClickRow(pane, RowNamed(pane, "Kochen.TP0"));
    EXPECT_EQ(pane->GetCurrentDir(), "C:\\");
}

TEST_F(PaneTest, TheReceiverPaneTakesFoldersByItsRules) {
    CDirListCtrl* pane = ReceiverPane();
    pane->SetCurrentDir("C:\\MOVIES\\");
    EXPECT_EQ(pane->GetCurrentDir(), "C:\\MOVIES");
    pane->SetCurrentDir("C:\\\\MOVIES");
    EXPECT_EQ(pane->GetCurrentDir(), "C:\\MOVIES");
    pane->SetCurrentDir("C:\\NOWHERE");
    EXPECT_EQ(pane->GetCurrentDir(), "C:\\");
    // A folder that cannot be read gives the root, listed.
    EXPECT_TRUE(pane->OV_Dir("C:\\NOWHERE"));
    EXPECT_EQ(pane->GetCurrentDir(), "C:\\");
    EXPECT_GE(RowNamed(pane, "MOVIES"), 0);
}

TEST_F(PaneTest, ARootThatCannotBeReadLeavesNoRowsPointingIntoTheEmptiedListing) {
    CDirListCtrl* pane = ReceiverPane();
    ASSERT_GT(pane->GetItemCount(), 0);
    pcfm_release();  // the file system has let go of the disk
    EXPECT_FALSE(pane->OV_Dir("C:\\MOVIES"));
    EXPECT_EQ(pane->GetItemCount(), 0);
}

TEST_F(PaneTest, ThePcPaneEntersFoldersGoesUpAndOpensFiles) {
    std::vector<std::string> opened;
    platform::SetShellOpener([&](const std::string& path) {
        opened.push_back(path);
        return true;
    });
    CDirListCtrl* pane = PcPane();
    DoubleClickRow(pane, RowNamed(pane, "Alpha"));
    EXPECT_EQ(pane->GetCurrentDir(), PcFile("Alpha"));
    EXPECT_EQ(frame_->path_boxes[0]->GetValue().utf8_string(), PcFile("Alpha"));
    EXPECT_THAT(Column(pane, 0), ElementsAre("..", "Deep", "inner.txt"));
    DoubleClickRow(pane, RowNamed(pane, "inner.txt"));
    EXPECT_THAT(opened, ElementsAre(PcFile("Alpha/inner.txt")));
    DoubleClickRow(pane, RowNamed(pane, ".."));
    EXPECT_EQ(pane->GetCurrentDir(), PcFolder());
    platform::SetShellOpener(nullptr);
}

TEST_F(PaneTest, APcFolderGoneBeforeTheDoubleClickLeavesThePaneWhereItWas) {
    CDirListCtrl* pane = PcPane();
    ASSERT_EQ(rmdir(PcFile("Beta").c_str()), 0);
    DoubleClickRow(pane, RowNamed(pane, "Beta"));
    EXPECT_EQ(pane->GetCurrentDir(), PcFolder());
    EXPECT_GE(RowNamed(pane, "Alpha"), 0);
    EXPECT_EQ(RowNamed(pane, "Beta"), -1);
}

TEST_F(PaneTest, TheFilterKeepsFoldersAndFilesWhoseNameOrTitleHoldsIt) {
    CDirListCtrl* pane = ReceiverPane();
    pane->FillList("news");
    EXPECT_EQ(pane->Filter(), "NEWS");
    EXPECT_THAT(Column(pane, 0), ElementsAre("JUKEBOX", "MOVIES", "archive", "News.TP0"));
    pane->FillList("küche");  // the programme title, in another case
    EXPECT_THAT(Column(pane, 0), ElementsAre("JUKEBOX", "MOVIES", "archive", "Kochen.TP0"));
    // The filter stays for the next listing.
    pane->RefreshList();
    EXPECT_EQ(RowNamed(pane, "radio.RAD"), -1);
    window_test::SaveScreenshot(frame_, "panes_filtered");
    pane->FillList("");
    EXPECT_EQ(pane->GetItemCount(), 7);
}

TEST_F(PaneTest, TheSummaryCountsTheSelectionAndARecordingGivesItsTitle) {
    CDirListCtrl* pane = PcPane();
    ClickRow(pane, RowNamed(pane, "small.txt"));
    EXPECT_EQ(frame_->bar->GetSecondText(), "1 file selected, 0 KByte\n");
    ClickRow(pane, RowNamed(pane, "big.bin"), wxMOD_CONTROL);
    EXPECT_EQ(frame_->bar->GetSecondText(), "2 file selected, 3 MByte\n");

    CDirListCtrl* receiver = ReceiverPane();
    ClickRow(receiver, RowNamed(receiver, "001&&News.TP0"));
    EXPECT_EQ(frame_->bar->GetSecondText(), "1 file selected, 292 KByte\nEvening News");
    wxTextDataObject clipboard;
    ASSERT_TRUE(wxTheClipboard->Open());
    wxTheClipboard->GetData(clipboard);
    wxTheClipboard->Close();
    EXPECT_EQ(clipboard.GetText(), "Evening News");
    window_test::SaveScreenshot(frame_, "panes_summary_of_a_recording");

    // A folder selected puts the pane's folder at the front of its history.
    ClickRow(receiver, RowNamed(receiver, "MOVIES"));
    EXPECT_EQ(frame_->bar->GetSecondText(), "1 file selected, 0 KByte\n");
    ASSERT_GT(frame_->path_boxes[1]->GetCount(), 0u);
    EXPECT_EQ(frame_->path_boxes[1]->GetString(0), "C:\\");
    EXPECT_GT(frame_->history_changes[1], 0);
}

TEST_F(PaneTest, TheGatheringGivesTheSelectedFoldersContentsFolderByFolder) {
    CDirListCtrl* receiver = ReceiverPane();
    Select(receiver, {"MOVIES"});
    std::vector<std::string> paths;
    for (const CDirEntry& entry : receiver->GetSelectedEntries()) paths.push_back(entry.fullPath);
    ASSERT_EQ(paths.size(), 4u);
    EXPECT_EQ(paths[1], "C:\\MOVIES\\Old");
    EXPECT_EQ(paths[2], "C:\\MOVIES\\Film.TP0");
    EXPECT_EQ(paths[3], "C:\\MOVIES\\Old\\Older.TP0");

    CDirListCtrl* pc = PcPane();
    DoubleClickRow(pc, RowNamed(pc, "Alpha"));
    Select(pc, {"..", "Deep"});
    paths.clear();
    for (const CDirEntry& entry : pc->GetSelectedEntries()) paths.push_back(entry.name);
    EXPECT_THAT(paths, ElementsAre("Deep", "deeper.txt"));
}

TEST_F(PaneTest, TheDropTargetIsAFolderRowAndGoesWhenTheDragEnds) {
    CDirListCtrl* pane = ReceiverPane();
    const long movies = RowNamed(pane, "MOVIES");
    EXPECT_TRUE(pane->HighlightDropTarget(RowPoint(pane, movies), false));
    EXPECT_EQ(pane->DropHighlight(), movies);
    EXPECT_EQ(pane->GetItemBackgroundColour(movies), Highlight());
    window_test::PumpFor(50);
    window_test::SaveScreenshot(frame_, "panes_drop_target");
    // Over a file: no target.
    EXPECT_FALSE(pane->HighlightDropTarget(RowPoint(pane, RowNamed(pane, "Kochen.TP0")), false));
    EXPECT_EQ(pane->DropHighlight(), -1);
    EXPECT_NE(pane->GetItemBackgroundColour(movies), Highlight());
    // Back over the folder, then the end of the drag.
    EXPECT_TRUE(pane->HighlightDropTarget(RowPoint(pane, movies), false));
    pane->EndDropHighlight();
    EXPECT_EQ(pane->DropHighlight(), -1);
    EXPECT_NE(pane->GetItemBackgroundColour(movies), Highlight());
    // Leaving the pane over a folder takes the highlight away too.
    EXPECT_TRUE(pane->HighlightDropTarget(RowPoint(pane, movies), true));
    EXPECT_EQ(pane->DropHighlight(), -1);
    EXPECT_NE(pane->GetItemBackgroundColour(movies), Highlight());
}

TEST_F(PaneTest, WhileATransferRunsKeysAndDoubleClicksDoNothing) {
    frame_->idle = false;
    CDirListCtrl* pane = ReceiverPane();
    DoubleClickRow(pane, RowNamed(pane, "MOVIES"));
    EXPECT_EQ(pane->GetCurrentDir(), "C:\\");
    ClickRow(pane, RowNamed(pane, "Kochen.TP0"));
    window_test::PressKey(WXK_RETURN);
    window_test::PressKey(WXK_INSERT);
    window_test::PressKey(WXK_DELETE);  // a question would stay open and fail the test
    window_test::PumpFor(100);
    EXPECT_FALSE(SharedPaneState().new_folder_mode);
    EXPECT_TRUE(ReceiverHas("C:\\Kochen.TP0"));
    EXPECT_EQ(pane->GetItemCount(), 7);
}
