// What a user changes through the panes: rename in place, new folders, deletion, renaming of
// recordings after their programme title, and the context menu.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/app.h>
#include <wx/menu.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include "controls/message_box_dialog.h"
#include "emulator/image/sample_content.h"
#include "panes/windows/pane_state.h"
#include "tests/gui_support/modal_driver.h"
#include "tests/gui_support/window_test_support.h"
#include "tests/panes/pane_fixture.h"
#include "transfer/user_messages.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

bool PcExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Answers the next message box with `answer` and keeps what it said.
struct Answer {
    explicit Answer(int answer) {
        window_test::WhenDialogShows([this, answer](wxDialog& dialog) {
            auto* box = dynamic_cast<CMessageBoxDialog*>(&dialog);
            ASSERT_NE(box, nullptr);
            caption = dialog.GetTitle().utf8_string();
            icon = box->Plan().icon;
            text = box->Message();
            window_test::Click(box->ButtonFor(answer));
            shown = true;
        });
    }
    bool shown = false;
    std::string caption, text;
    uint32_t icon = 0;
};

// The open edit's text replaced as a user types it, then Enter.
void TypeIntoEdit(CDirListCtrl* pane, const std::string& text, int end_key = WXK_RETURN) {
    ASSERT_TRUE(window_test::PumpUntil([&] { return pane->GetEditControl() != nullptr; }));
    wxTextCtrl* edit = pane->GetEditControl();
    window_test::PumpFor(50);
    edit->SelectAll();
    wxUIActionSimulator simulator;
    simulator.Text(text.c_str());
    window_test::PumpFor(50);
    simulator.Char(end_key);
    window_test::PumpUntil([&] { return pane->GetEditControl() == nullptr; });
    window_test::PumpFor(150);
}

// The managers' warnings, kept instead of shown.
struct KeptMessages : UserMessages {
    void ShowWarning(const std::string& text, const std::string&) override {
        texts.push_back(text);
    }
    std::vector<std::string> texts;
};

}  // namespace

TEST_F(PaneTest, F2RenamesAReceiverRecordingEditingItsFullName) {
    CDirListCtrl* pane = ReceiverPane();
    ClickRow(pane, RowNamed(pane, "001&&News.TP0"));
    window_test::PressKey(WXK_F2);
    ASSERT_TRUE(window_test::PumpUntil([&] { return pane->GetEditControl() != nullptr; }));
    EXPECT_EQ(pane->GetEditControl()->GetValue(), "001&&News.TP0");
    window_test::SaveScreenshot(frame_, "panes_rename_open");
    TypeIntoEdit(pane, "002&&Late News.TP0");
    EXPECT_TRUE(ReceiverHas("C:\\002&&Late News.TP0"));
    EXPECT_FALSE(ReceiverHas("C:\\001&&News.TP0"));
    const long row = RowNamed(pane, "002&&Late News.TP0");
    ASSERT_GE(row, 0);
    EXPECT_EQ(pane->GetItemText(row), "Late News.TP0");
    EXPECT_EQ(pane->RecordAt(row)->fullPath, "C:\\002&&Late News.TP0");
    EXPECT_FALSE(SharedPaneState().label_edit);
    // The renamed record is the file: it can be renamed again.
    Select(pane, {"002&&Late News.TP0"});
    pane->OnFileRename();
    TypeIntoEdit(pane, "Later.TP0");
    EXPECT_TRUE(ReceiverHas("C:\\Later.TP0"));
}

TEST_F(PaneTest, AReceiverNameStartingWithADotIsRefusedAndTheOldLabelReturns) {
    CDirListCtrl* pane = ReceiverPane();
    Select(pane, {"Kochen.TP0"});
    pane->OnFileRename();
    Answer said(message_box::kIdOk);
    TypeIntoEdit(pane, ".hidden.TP0");
    ASSERT_TRUE(window_test::PumpUntil([&] { return said.shown; }));
    EXPECT_EQ(said.text, "Failed to rename file!");
    EXPECT_EQ(said.caption, "Attention!");
    EXPECT_EQ(said.icon, message_box::kIconStop);
    EXPECT_EQ(pane->GetItemText(RowNamed(pane, "Kochen.TP0")), "Kochen.TP0");
    EXPECT_TRUE(ReceiverHas("C:\\Kochen.TP0"));
}

TEST_F(PaneTest, APcRenameCleansTheNameAndARenameOntoAnotherFileFails) {
    CDirListCtrl* pane = PcPane();
    Select(pane, {"small.txt"});
    pane->OnFileRename();
    TypeIntoEdit(pane, "what: now?.txt");
    EXPECT_TRUE(PcExists(PcFile("what; now,.txt")));
    EXPECT_FALSE(PcExists(PcFile("small.txt")));
    const long row = RowNamed(pane, "what; now,.txt");
    ASSERT_GE(row, 0);
    EXPECT_EQ(pane->GetItemText(row), "what; now,.txt");

    Select(pane, {"big.bin"});
    pane->OnFileRename();
    Answer said(message_box::kIdOk);
    TypeIntoEdit(pane, "what; now,.txt");
    ASSERT_TRUE(window_test::PumpUntil([&] { return said.shown; }));
    EXPECT_EQ(said.text, "Failed to rename file!");
    EXPECT_EQ(ReadFileBytes(PcFile("what; now,.txt")), std::string(1023, 's'));
    EXPECT_TRUE(PcExists(PcFile("big.bin")));
    EXPECT_EQ(pane->GetItemText(RowNamed(pane, "big.bin")), "big.bin");
}

TEST_F(PaneTest, TheParentRowIsNotRenamed) {
    CDirListCtrl* pane = PcPane();
    ClickRow(pane, RowNamed(pane, ".."));
    pane->EditLabel(RowNamed(pane, ".."));
    window_test::PumpFor(100);
    EXPECT_EQ(pane->GetEditControl(), nullptr);
    EXPECT_FALSE(SharedPaneState().label_edit);
}

TEST_F(PaneTest, AnEditEndedWhileATransferRunsRenamesNothingAndSaysSo) {
    CDirListCtrl* pane = ReceiverPane();
    Select(pane, {"Kochen.TP0"});
    pane->OnFileRename();
    frame_->idle = false;
    TypeIntoEdit(pane, "Other.TP0");
    EXPECT_TRUE(ReceiverHas("C:\\Kochen.TP0"));
    EXPECT_FALSE(ReceiverHas("C:\\Other.TP0"));
    EXPECT_EQ(pane->GetItemText(RowNamed(pane, "Kochen.TP0")), "Kochen.TP0");
}

TEST_F(PaneTest, InsertNamesANewReceiverFolderAndThePaneEntersIt) {
    CDirListCtrl* pane = ReceiverPane();
    ClickRow(pane, RowNamed(pane, "Kochen.TP0"));
    window_test::PressKey(WXK_INSERT);
    ASSERT_TRUE(window_test::PumpUntil([&] { return pane->GetEditControl() != nullptr; }));
    EXPECT_TRUE(SharedPaneState().new_folder_mode);
    EXPECT_EQ(pane->GetEditControl()->GetValue(), "New Folder");
    window_test::SaveScreenshot(frame_, "panes_new_folder_named");
    TypeIntoEdit(pane, "Films");
    EXPECT_FALSE(SharedPaneState().new_folder_mode);
    EXPECT_TRUE(ReceiverHas("C:\\Films"));
    EXPECT_EQ(pane->GetCurrentDir(), "C:\\Films");
    EXPECT_EQ(pane->GetItemCount(), 1);  // ".." only
    ASSERT_GT(frame_->path_boxes[1]->GetCount(), 0u);
    EXPECT_EQ(frame_->path_boxes[1]->GetString(0), "C:\\Films");
}

TEST_F(PaneTest, F7MakesAPcFolderAndTheRowsAreSortedAfterwards) {
    CDirListCtrl* pane = PcPane();
    ClickRow(pane, RowNamed(pane, "small.txt"));
    window_test::PressKey(WXK_F7);
    TypeIntoEdit(pane, "Gamma");
    EXPECT_TRUE(PcExists(PcFile("Gamma")));
    EXPECT_EQ(pane->GetCurrentDir(), PcFolder());
    EXPECT_THAT(Column(pane, 0),
                ElementsAre("..", "Alpha", "Beta", "Gamma", "big.bin", "show.TP0", "small.txt"));
    // A name taken already is a failure, said as such.
    window_test::PressKey(WXK_F7);
    Answer said(message_box::kIdOk);
    TypeIntoEdit(pane, "Beta");
    ASSERT_TRUE(window_test::PumpUntil([&] { return said.shown; }));
    EXPECT_EQ(said.text, "Failed to create folder!");
    window_test::PumpFor(100);
    EXPECT_EQ(pane->GetItemCount(), 7);
    EXPECT_FALSE(SharedPaneState().new_folder_mode);
}

TEST_F(PaneTest, ANewFolderWithoutANameOrCancelledLeavesNoRowAndNoFolder) {
    CDirListCtrl* pane = ReceiverPane();
    pane->InsertNewDir();
    TypeIntoEdit(pane, "   ");
    EXPECT_FALSE(SharedPaneState().new_folder_mode);
    EXPECT_EQ(pane->GetItemCount(), 7);
    pane->InsertNewDir();
    TypeIntoEdit(pane, "Unwanted", WXK_ESCAPE);
    EXPECT_FALSE(SharedPaneState().new_folder_mode);
    EXPECT_EQ(pane->GetItemCount(), 7);
    EXPECT_FALSE(ReceiverHas("C:\\Unwanted"));
    // Sorting and the summary work again at once.
    ClickRow(pane, RowNamed(pane, "radio.RAD"));
    EXPECT_EQ(frame_->bar->GetSecondText(), "1 file selected, 2 KByte\n");
}

TEST_F(PaneTest, DeleteOnTheReceiverAsksAndKeepsTheProtectedEntries) {
    CDirListCtrl* pane = ReceiverPane();
    ClickRow(pane, RowNamed(pane, "MOVIES"));
    {
        Answer no(message_box::kIdNo);
        window_test::PressKey(WXK_DELETE);
        ASSERT_TRUE(window_test::PumpUntil([&] { return no.shown; }));
        EXPECT_EQ(no.text, "Do you really want to delete the selected file?");
        EXPECT_EQ(no.icon, message_box::kIconQuestion);
    }
    EXPECT_TRUE(ReceiverHas("C:\\MOVIES\\Old\\Older.TP0"));
    {
        Answer yes(message_box::kIdYes);
        window_test::PressKey(WXK_DELETE);
        ASSERT_TRUE(window_test::PumpUntil([&] { return yes.shown; }));
    }
    window_test::PumpFor(100);
    EXPECT_FALSE(ReceiverHas("C:\\MOVIES"));
    EXPECT_EQ(RowNamed(pane, "MOVIES"), -1);

    // A protected entry in the selection keeps the whole selection.
    Select(pane, {"TM_SHIFT.000", "radio.RAD"});
    KeptMessages warnings;
    SetMessages(&warnings);
    bool asked = false;
    window_test::WhenDialogShows([&](wxDialog& dialog) {
        asked = true;
        window_test::Click(dynamic_cast<CMessageBoxDialog&>(dialog).ButtonFor(message_box::kIdYes));
    });
    pane->DeleteFiles2(false);
    EXPECT_TRUE(asked);
    ASSERT_EQ(warnings.texts.size(), 1u);
    EXPECT_THAT(warnings.texts[0], ::testing::HasSubstr("TM_SHIFT.000"));
    EXPECT_TRUE(ReceiverHas("C:\\TM_SHIFT.000"));
    EXPECT_TRUE(ReceiverHas("C:\\radio.RAD"));
    Select(pane, {"JUKEBOX"});
    Answer yes(message_box::kIdYes);
    pane->DeleteFiles2(false);
    EXPECT_TRUE(ReceiverHas("C:\\JUKEBOX"));
    EXPECT_EQ(warnings.texts.size(), 2u);
    SetMessages(nullptr);
    ExpectDiskClean();
}

TEST_F(PaneTest, DeleteSendsPcEntriesToTheTrashAndShiftDeleteRemovesThemForGood) {
    CDirListCtrl* pane = PcPane();
    ClickRow(pane, RowNamed(pane, "Alpha"));
    ClickRow(pane, RowNamed(pane, "small.txt"), wxMOD_CONTROL);
    {
        Answer yes(message_box::kIdYes);
        window_test::PressKey(WXK_DELETE);
        ASSERT_TRUE(window_test::PumpUntil([&] { return yes.shown; }));
        EXPECT_EQ(yes.text, "Do you really want to delete the selected file?");
    }
    window_test::PumpFor(100);
    EXPECT_FALSE(PcExists(PcFile("Alpha")));
    EXPECT_FALSE(PcExists(PcFile("small.txt")));
    EXPECT_TRUE(PcExists(TrashFolder() + "/files/Alpha/Deep/deeper.txt"));
    EXPECT_EQ(ReadFileBytes(TrashFolder() + "/files/small.txt"), std::string(1023, 's'));
    EXPECT_THAT(Column(pane, 0), ElementsAre("..", "Beta", "big.bin", "show.TP0"));

    ClickRow(pane, RowNamed(pane, "big.bin"));
    {
        Answer yes(message_box::kIdYes);
        window_test::PressKey(WXK_DELETE, wxMOD_SHIFT);
        ASSERT_TRUE(window_test::PumpUntil([&] { return yes.shown; }));
        EXPECT_EQ(yes.icon, message_box::kIconExclamation);
        // Nothing comes back from this one, and the question says so.
        EXPECT_THAT(yes.text, HasSubstr("deleted for good"));
    }
    window_test::PumpFor(100);
    EXPECT_FALSE(PcExists(PcFile("big.bin")));
    EXPECT_FALSE(PcExists(TrashFolder() + "/files/big.bin"));

    ClickRow(pane, RowNamed(pane, "show.TP0"));
    {
        Answer no(message_box::kIdNo);
        window_test::PressKey(WXK_DELETE);
        ASSERT_TRUE(window_test::PumpUntil([&] { return no.shown; }));
    }
    EXPECT_TRUE(PcExists(PcFile("show.TP0")));
}

TEST_F(PaneTest, TheParentRowInAPcSelectionDeletesNothingWithoutAsking) {
    CDirListCtrl* pane = PcPane();
    Select(pane, {"..", "Beta"});
    pane->DeleteFiles2(true);  // a question would stay open and fail the test
    EXPECT_TRUE(PcExists(PcFile("Beta")));
}

TEST_F(PaneTest, CtrlF2NamesRecordingsAfterTheirTitleAndKeepsTitlesNoNameCanHold) {
    WriteReceiverFile("C:\\MOVIES\\a.TP0", image::MakeRecording("Same Title"));
    WriteReceiverFile("C:\\MOVIES\\b.TP0", image::MakeRecording("Same Title"));
    CDirListCtrl* pane = ReceiverPane();
    DoubleClickRow(pane, RowNamed(pane, "MOVIES"));
    ClickRow(pane, RowNamed(pane, "a.TP0"));
    ClickRow(pane, RowNamed(pane, "b.TP0"), wxMOD_CONTROL);
    ClickRow(pane, RowNamed(pane, "Old"), wxMOD_CONTROL);
    window_test::PressKey(WXK_F2, wxMOD_CONTROL);
    window_test::PumpFor(200);
    EXPECT_TRUE(ReceiverHas("C:\\MOVIES\\Same Title.TP0"));
    EXPECT_TRUE(ReceiverHas("C:\\MOVIES\\Same Title-01.TP0"));
    EXPECT_FALSE(ReceiverHas("C:\\MOVIES\\a.TP0"));
    // The contents of a selected folder are not renamed.
    EXPECT_TRUE(ReceiverHas("C:\\MOVIES\\Old\\Older.TP0"));
    EXPECT_GE(RowNamed(pane, "Same Title-01.TP0"), 0);
    window_test::SaveScreenshot(frame_, "panes_renamed_after_titles");

    DoubleClickRow(pane, RowNamed(pane, ".."));
    Select(pane, {"Kochen.TP0"});
    pane->RenameToEpgInfo();
    EXPECT_TRUE(ReceiverHas("C:\\Kochen.TP0"));
    ExpectDiskClean();
}

TEST_F(PaneTest, TheContextMenuOffersTheCommandsAndTransferGoesUpToTheWindow) {
    CDirListCtrl* pane = ReceiverPane();
    Select(pane, {});
    EXPECT_EQ(pane->BuildContextMenu(), nullptr);
    Select(pane, {"Kochen.TP0"});
    std::unique_ptr<wxMenu> menu = pane->BuildContextMenu();
    ASSERT_NE(menu, nullptr);
    std::vector<std::string> labels;
    for (const wxMenuItem* item : menu->GetMenuItems())
        labels.push_back(item->GetItemLabelText().utf8_string());
    EXPECT_THAT(labels,
                ElementsAre("Transfer", "Delete", "Rename (F2)", "Rename to EPG Info (Ctrl+F2)"));
    EXPECT_TRUE(menu->IsEnabled(MenuItemOf(kIdFileRename)));
    Select(pane, {"Kochen.TP0", "radio.RAD", "MOVIES"});
    EXPECT_FALSE(pane->BuildContextMenu()->IsEnabled(MenuItemOf(kIdFileRename)));

    // The items as the menu sends them when chosen.
    wxCommandEvent transfer(wxEVT_MENU, MenuItemOf(kIdFileTransfer));
    transfer.SetEventObject(pane);
    pane->ProcessWindowEvent(transfer);
    EXPECT_THAT(frame_->commands, ElementsAre(kIdFileTransfer));

    // The menu's Rename starts the edit of the one selected row.
    Select(pane, {"radio.RAD"});
    wxCommandEvent rename(wxEVT_MENU, MenuItemOf(kIdFileRename));
    pane->ProcessWindowEvent(rename);
    ASSERT_TRUE(window_test::PumpUntil([&] { return pane->GetEditControl() != nullptr; }));
    EXPECT_EQ(pane->GetEditControl()->GetValue(), "radio.RAD");
    window_test::PressKey(WXK_ESCAPE);
}

TEST_F(PaneTest, ARightClickShowsTheMenuAtTheRow) {
    CDirListCtrl* pane = ReceiverPane();
    ClickRow(pane, RowNamed(pane, "radio.RAD"));
    bool shown = false;
    pane->Bind(wxEVT_MENU_OPEN, [&](wxMenuEvent& event) {
        shown = true;
        event.Skip();
        wxTheApp->CallAfter([] { window_test::PressKey(WXK_ESCAPE); });
    });
    wxUIActionSimulator simulator;
    simulator.MouseMove(RowPoint(pane, RowNamed(pane, "radio.RAD")));
    window_test::PumpFor(30);
    simulator.MouseClick(wxMOUSE_BTN_RIGHT);
    window_test::PumpUntil([&] { return shown; }, 3000);
    EXPECT_TRUE(shown);
}

TEST_F(PaneTest, AnEditStillOpenWhenTheWindowGoesRenamesNothing) {
    CDirListCtrl* pane = ReceiverPane();
    Select(pane, {"Kochen.TP0"});
    pane->OnFileRename();
    ASSERT_TRUE(window_test::PumpUntil([&] { return pane->GetEditControl() != nullptr; }));
    pane->GetEditControl()->SelectAll();
    Type("Other.TP0");
    frame_->Destroy();
    frame_ = nullptr;
    window_test::PumpFor(200);
    EXPECT_TRUE(ReceiverHas("C:\\Kochen.TP0"));
    EXPECT_FALSE(ReceiverHas("C:\\Other.TP0"));
    EXPECT_FALSE(SharedPaneState().label_edit);
}
