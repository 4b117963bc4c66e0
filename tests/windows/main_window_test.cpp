// The main window's panes, commands and connection, driven as a user drives them.
#include <gtest/gtest.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/listctrl.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <filesystem>

#include "app/main_window_layout.h"
#include "app/preferences.h"
#include "app/windows/ov_usb_dlg.h"
#include "controls/icon_edit.h"
#include "controls/message_box_dialog.h"
#include "controls/pie_progress.h"
#include "emulator/emulated_link_backend.h"
#include "panes/windows/dir_list_ctrl.h"
#include "platform/pc_volumes.h"
#include "platform/profile_store.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/pcfm.h"
#include "tests/gui_support/modal_driver.h"
#include "tests/gui_support/window_test_support.h"
#include "tests/windows/main_window_fixture.h"
#include "transfer/function_mgr.h"
#include "transfer/progress.h"
#include "transfer/windows/file_progress.h"

using window_test::Click;
using window_test::PumpFor;
using window_test::PumpUntil;

TEST_F(MainWindowTest, BothPanesListAndNavigate) {
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        CDirListCtrl* box = dialog.Pane(1);
        EXPECT_GE(RowNamed(pc, "clip.ts"), 0);
        EXPECT_GE(RowNamed(box, "Recordings"), 0);
        EXPECT_EQ(box->GetCurrentDir(), "C:\\");
        EXPECT_TRUE(DeviceConnected);
        window_test::SaveScreenshot(&dialog, "main_window_connected");
        // Into Films and back by "..": a click makes the pane the active one first.
        ClickRow(pc, RowNamed(pc, "Films"));
        DoubleClickRow(pc, RowNamed(pc, "Films"));
        EXPECT_TRUE(PumpUntil([&] { return RowNamed(pc, "inner.ts") >= 0; }));
        EXPECT_EQ(pc->GetCurrentDir(), Pc("pc/Films"));
        DoubleClickRow(pc, RowNamed(pc, ".."));
        EXPECT_TRUE(PumpUntil([&] { return RowNamed(pc, "clip.ts") >= 0; }));
        EXPECT_EQ(pc->GetCurrentDir(), Pc("pc"));
    });
}

TEST_F(MainWindowTest, TheSearchFieldNarrowsBothPanes) {
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        auto* search = static_cast<CIconEdit*>(dialog.FindWindow(main_window::kSearch));
        search->SetFocus();
        window_test::PressKey('C');
        window_test::PressKey('L');
        EXPECT_TRUE(PumpUntil([&] { return RowNamed(pc, "notes.txt") < 0; }));
        EXPECT_GE(RowNamed(pc, "clip.ts"), 0);
        EXPECT_GE(RowNamed(pc, "Films"), 0);  // folders stay
        window_test::SaveScreenshot(&dialog, "main_window_filtering");
        search->Clear();
        EXPECT_TRUE(PumpUntil([&] { return RowNamed(pc, "notes.txt") >= 0; }));
    });
}

TEST_F(MainWindowTest, TransferByButtonBothWays) {
    const std::string clip = ReadFileBytes(Pc("pc/clip.ts"));
    int summaries = 0;
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        CDirListCtrl* box = dialog.Pane(1);
        ClickRow(pc, RowNamed(pc, "clip.ts"));
        ASSERT_EQ(dialog.ActivePane(), 0);
        AnswerSummaries(&summaries);
        Click(dialog.FindWindow(main_window::kTransfer));
        EXPECT_TRUE(PumpUntil([&] { return RowNamed(box, "clip.ts") >= 0; }, 30000));
        EXPECT_EQ(ReceiverBytes("C:\\clip.ts"), clip);
        EXPECT_TRUE(PumpUntil([&] { return summaries == 1; }));

        // And back into the PC's Films folder.
        ClickRow(pc, RowNamed(pc, "Films"));
        DoubleClickRow(pc, RowNamed(pc, "Films"));
        ASSERT_TRUE(PumpUntil([&] { return RowNamed(pc, "inner.ts") >= 0; }));
        ClickRow(box, RowNamed(box, "clip.ts"));
        ASSERT_EQ(dialog.ActivePane(), 1);
        AnswerSummaries(&summaries);
        Click(dialog.FindWindow(main_window::kTransfer));
        EXPECT_TRUE(PumpUntil([&] { return RowNamed(pc, "clip.ts") >= 0; }, 30000));
        EXPECT_TRUE(PumpUntil([&] { return summaries == 2; }));
    });
    EXPECT_EQ(ReadFileBytes(Pc("pc/Films/clip.ts")), clip);
    Connect();  // the window let go of the receiver when it closed
    ExpectDiskClean();
}

TEST_F(MainWindowTest, UnpluggedWhileIdleThePaneEmptiesAndComesBack) {
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* box = dialog.Pane(1);
        ASSERT_GT(box->GetItemCount(), 0);
        ASSERT_TRUE(dialog.Pie(1)->IsShown());
        receiver_->Unplug();
        EXPECT_TRUE(PumpUntil([&] { return box->GetItemCount() == 0; }));
        EXPECT_TRUE(UsbFailure);
        EXPECT_FALSE(dialog.Pie(1)->IsShown());
        window_test::SaveScreenshot(&dialog, "main_window_disconnected");
        receiver_->Plug();
        EXPECT_TRUE(PumpUntil([&] { return box->GetItemCount() > 0; }, 8000));
        EXPECT_FALSE(UsbFailure);
        EXPECT_TRUE(dialog.Pie(1)->IsShown());
        // The PC pane kept working throughout.
        EXPECT_GE(RowNamed(dialog.Pane(0), "clip.ts"), 0);
    });
}

TEST_F(MainWindowTest, UnpluggedDuringATransferTheCopyCompletesByteExact) {
    const std::string clip = ReadFileBytes(Pc("pc/clip.ts"));
    int summaries = 0;
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        ClickRow(pc, RowNamed(pc, "clip.ts"));
        emulator::FaultPlan plan;
        plan.unplug_after_bytes = 1 << 20;
        plan.replug_after_ms = 3000;
        receiver_->SetFaultPlan(plan);
        AnswerSummaries(&summaries);
        Click(dialog.FindWindow(main_window::kTransfer));
        EXPECT_TRUE(PumpUntil([&] { return summaries == 1; }, 45000));
        EXPECT_GE(RowNamed(dialog.Pane(1), "clip.ts"), 0) << COvSession::Get().Manager(0)->failure;
    });
    Connect();  // the window let go of the receiver when it closed
    EXPECT_EQ(ReceiverBytes("C:\\clip.ts"), clip);
    ExpectDiskClean();
}

TEST_F(MainWindowTest, DragAndDropCopiesIntoTheFolderUnderThePointer) {
    const std::string notes = ReadFileBytes(Pc("pc/notes.txt"));
    int summaries = 0;
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        CDirListCtrl* box = dialog.Pane(1);
        ClickRow(pc, RowNamed(pc, "notes.txt"));
        ASSERT_EQ(dialog.ActivePane(), 0);
        AnswerSummaries(&summaries);
        wxUIActionSimulator simulator;
        simulator.MouseMove(RowPoint(pc, RowNamed(pc, "notes.txt")));
        PumpFor(50);
        simulator.MouseDown();
        // Moved in steps, as a hand moves it, onto the receiver's Recordings row.
        const wxPoint from = RowPoint(pc, RowNamed(pc, "notes.txt"));
        const wxPoint to = RowPoint(box, RowNamed(box, "Recordings"));
        for (int step = 1; step <= 20; ++step) {
            simulator.MouseMove(from + (to - from) * step / 20);
            PumpFor(20);
            if (step == 10) {
                EXPECT_TRUE(dialog.Dragging());
            }
        }
        window_test::SaveScreenshot(&dialog, "main_window_dragging");
        // Passing over the PC pane's Films row on the way left no highlight behind.
        EXPECT_EQ(pc->DropHighlight(), -1);
        simulator.MouseUp();
        EXPECT_TRUE(PumpUntil([&] { return summaries == 1; }, 30000));
        EXPECT_FALSE(dialog.Dragging());
        EXPECT_EQ(ReceiverBytes("C:\\Recordings\\notes.txt"), notes);
    });
}

TEST_F(MainWindowTest, HistoryButtonsWalkThePathHistory) {
    std::filesystem::create_directories(Pc("pc/Films/Deep"));
    const std::string section = CPreferences::Get().Section(0);
    for (const char* folder : {"pc/Films/Deep", "pc/Films", "pc"})
        AddPathHistory(section, Pc(folder));
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        wxWindow* older = dialog.FindWindow(main_window::kLeftOlder);
        wxWindow* newer = dialog.FindWindow(main_window::kLeftNewer);
        PumpFor(100);  // the buttons follow the history when the window is idle
        ASSERT_TRUE(older->IsEnabled());
        EXPECT_FALSE(newer->IsEnabled());
        Click(older);
        EXPECT_EQ(pc->GetCurrentDir(), Pc("pc/Films"));
        Click(older);
        EXPECT_EQ(pc->GetCurrentDir(), Pc("pc/Films/Deep"));
        PumpFor(100);
        EXPECT_FALSE(older->IsEnabled());  // the oldest entry reached
        EXPECT_TRUE(newer->IsEnabled());
        Click(newer);
        EXPECT_EQ(pc->GetCurrentDir(), Pc("pc/Films"));
        EXPECT_TRUE(PumpUntil([&] { return RowNamed(pc, "inner.ts") >= 0; }));
    });
}

TEST_F(MainWindowTest, TheDriveChooserGoesToAVolumeAndBack) {
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        auto* drives = static_cast<wxChoice*>(dialog.FindWindow(main_window::kDrives));
        const int start = drives->GetSelection();
        ASSERT_GE(start, 0);
        const int root = drives->FindString("[-/-]");
        ASSERT_GE(root, 0);
        auto choose = [&](int entry) {
            drives->SetSelection(entry);
            wxCommandEvent chosen(wxEVT_CHOICE, main_window::kDrives);
            chosen.SetInt(entry);
            drives->GetEventHandler()->ProcessEvent(chosen);
            PumpFor(100);
        };
        // To the root volume and back: the pane returns to the folder it left there.
        choose(root);
        if (root != start) {
            EXPECT_EQ(pc->GetCurrentDir(), "/");
            choose(start);
        }
        EXPECT_EQ(pc->GetCurrentDir(), Pc("pc"));
    });
}

TEST_F(MainWindowTest, F2RenamesAndAFolderTreeGoesAcross) {
    const std::string inner = ReadFileBytes(Pc("pc/Films/inner.ts"));
    int summaries = 0;
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        ClickRow(pc, RowNamed(pc, "notes.txt"));
        window_test::PressKey(WXK_F2);
        ASSERT_TRUE(PumpUntil([&] { return pc->GetEditControl() != nullptr; }));
        pc->GetEditControl()->SelectAll();
        wxUIActionSimulator simulator;
        simulator.Text("renamed.txt");
        PumpFor(50);
        simulator.Char(WXK_RETURN);
        EXPECT_TRUE(PumpUntil([&] { return RowNamed(pc, "renamed.txt") >= 0; }));

        ClickRow(pc, RowNamed(pc, "Films"));
        AnswerSummaries(&summaries);
        Click(dialog.FindWindow(main_window::kTransfer));
        EXPECT_TRUE(PumpUntil([&] { return summaries == 1; }, 30000));
        EXPECT_EQ(ReceiverBytes("C:\\Films\\inner.ts"), inner);
    });
    EXPECT_EQ(ReadFileBytes(Pc("pc/renamed.txt")), "notes");
    EXPECT_FALSE(std::filesystem::exists(Pc("pc/notes.txt")));
}

TEST_F(MainWindowTest, ColumnWidthsAndTheSortSurviveARestart) {
    Run([&](COV_USBDlg& dialog) {
        dialog.Pane(1)->SetColumnWidth(2, 123);
        // A click on the Size header sorts by it.
        wxRect first;
        CDirListCtrl* pc = dialog.Pane(0);
        pc->GetItemRect(0, first);
        const int x = pc->GetColumnWidth(0) + pc->GetColumnWidth(1) + pc->GetColumnWidth(2) / 2;
        wxUIActionSimulator simulator;
        simulator.MouseMove(pc->ClientToScreen(wxPoint(x, first.y / 2)));
        PumpFor(30);
        simulator.MouseClick();
        PumpFor(100);
        EXPECT_EQ(pc->GetSortState().column, 2);
    });
    Run([&](COV_USBDlg& dialog) {
        EXPECT_EQ(dialog.Pane(1)->GetColumnWidth(2), 123);
        EXPECT_EQ(dialog.Pane(0)->GetSortState().column, 2);
    });
}

TEST_F(MainWindowTest, CommandsDuringADroppedCopyLeaveItsFilesAlone) {
    // Bigger and slower: the copy runs long enough for a user to reach for other commands.
    WriteFileBytes(Pc("pc/clip.ts"), RandomBytes(8 << 20, 9));
    const std::string clip = ReadFileBytes(Pc("pc/clip.ts"));
    emulator::FaultPlan slow;
    slow.latency_per_command_ms = 10;
    receiver_->SetFaultPlan(slow);
    int boxes = 0;
    bool tried = false;
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        CDirListCtrl* box = dialog.Pane(1);
        ClickRow(pc, RowNamed(pc, "clip.ts"));
        // Every box answered with its first button: a delete question would be a yes.
        window_test::WhenDialogShows(
            [&](wxDialog& shown) {
                if (auto* message = dynamic_cast<CMessageBoxDialog*>(&shown)) {
                    ++boxes;
                    Click(message->ButtonFor(message->Plan().buttons.front().command));
                }
            },
            60000);
        wxTimer during;
        during.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            tried = true;
            dialog.OnBnClickedBtDelete();
            dialog.OnRefresh();
        });
        wxUIActionSimulator simulator;
        const wxPoint from = RowPoint(pc, RowNamed(pc, "clip.ts"));
        const wxPoint to = box->ClientToScreen(wxPoint(box->GetClientSize().x / 2, 200));
        simulator.MouseMove(from);
        PumpFor(50);
        simulator.MouseDown();
        for (int step = 1; step <= 20; ++step) {
            simulator.MouseMove(from + (to - from) * step / 20);
            PumpFor(20);
        }
        during.StartOnce(800);
        simulator.MouseUp();
        EXPECT_TRUE(PumpUntil([&] { return boxes >= 1 && RowNamed(box, "clip.ts") >= 0; }, 60000));
    });
    EXPECT_TRUE(tried);
    EXPECT_EQ(boxes, 1);  // the summary only: no delete question was asked
    EXPECT_EQ(ReadFileBytes(Pc("pc/clip.ts")), clip);
    Connect();
    EXPECT_EQ(ReceiverBytes("C:\\clip.ts"), clip);
}

TEST_F(MainWindowTest, DragAndDropFromTheReceiverCopiesAFolderToThePc) {
    int summaries = 0;
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        CDirListCtrl* box = dialog.Pane(1);
        ClickRow(box, RowNamed(box, "Recordings"));
        ASSERT_EQ(dialog.ActivePane(), 1);
        AnswerSummaries(&summaries);
        // Dropped on the PC pane's empty space: into the folder it shows.
        const wxPoint from = RowPoint(box, RowNamed(box, "Recordings"));
        const wxPoint to = pc->ClientToScreen(wxPoint(pc->GetClientSize().x / 2, 200));
        DragAndDrop(from, to, [&](int step) {
            if (step == 10) {
                EXPECT_TRUE(dialog.Dragging());
            }
        });
        EXPECT_TRUE(PumpUntil([&] { return summaries == 1; }, 30000));
        EXPECT_TRUE(PumpUntil([&] { return RowNamed(pc, "Recordings") >= 0; }));
    });
    EXPECT_EQ(ReadFileBytes(Pc("pc/Recordings/news.TP0")), "recording");
}

TEST_F(MainWindowTest, ACloseWhileTheOverwriteQuestionIsOpenStartsNoCopy) {
    PutOnReceiver("C:\\clip.ts", "old");
    bool closed = false;
    int summaries = 0;
    Run([&](COV_USBDlg& dialog) {
        AnswerBoxes([&](CMessageBoxDialog& box) {
            if (box.GetTitle() != "Attention!") return ++summaries, message_box::kIdOk;
            closed = true;
            dialog.Close();  // what the close box and a quit signal do
            return message_box::kIdYes;
        });
        CDirListCtrl* pc = dialog.Pane(0);
        ClickRow(pc, RowNamed(pc, "clip.ts"));
        Click(dialog.FindWindow(main_window::kTransfer));
        // The window ends by itself once the question has gone.
        EXPECT_TRUE(PumpUntil([&] { return !dialog.IsModal(); }, 3000));
        EXPECT_EQ(CFileProgress::Get().Window(), nullptr);
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(summaries, 0);
    Connect();
    EXPECT_EQ(ReceiverBytes("C:\\clip.ts"), "old");
}

TEST_F(MainWindowTest, TheReceiverPaneIsListedAgainAfterACopyFromItThatLostTheLink) {
    PutOnReceiver("C:\\Recordings\\big.TP0", RandomBytes(6 << 20, 4));
    int summaries = 0;
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* box = dialog.Pane(1);
        ClickRow(box, RowNamed(box, "Recordings"));
        emulator::FaultPlan plan;
        plan.unplug_after_bytes = 2 << 20;
        plan.replug_after_ms = 2500;
        receiver_->SetFaultPlan(plan);
        AnswerSummaries(&summaries);
        Click(dialog.FindWindow(main_window::kTransfer));
        ASSERT_TRUE(PumpUntil([&] { return summaries == 1; }, 45000));
        EXPECT_TRUE(PumpUntil([&] { return RowNamed(box, "Recordings") >= 0; }));
    });
    EXPECT_EQ(ReadFileBytes(Pc("pc/Recordings/big.TP0")), RandomBytes(6 << 20, 4));
}

TEST_F(MainWindowTest, WithinAPaneADropGoesIntoTheFolderUnderItAndNeverIntoTheSelection) {
    // A folder whose display name is "..": a drop on it goes into it, not one folder up.
    std::filesystem::create_directories(Pc("pc/x&&.."));
    std::filesystem::create_directories(Pc("pc/Films/Deep"));
    WriteFileBytes(Pc("pc/Films/Deep/deep.ts"), "deep");
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        long shown_as_parent = -1;
        for (long row = 0; row < pc->GetItemCount(); ++row)
            if (pc->RecordAt(row) != nullptr && pc->RecordAt(row)->name == "x&&..")
                shown_as_parent = row;
        ASSERT_GE(shown_as_parent, 0);
        ClickRow(pc, RowNamed(pc, "notes.txt"));
        DragAndDrop(RowPoint(pc, RowNamed(pc, "notes.txt")), RowPoint(pc, shown_as_parent));
        EXPECT_TRUE(PumpUntil([&] { return RowNamed(pc, "notes.txt") < 0; }));
        // A folder dropped onto itself: nothing of it moves.
        ClickRow(pc, RowNamed(pc, "Films"));
        const wxPoint films = RowPoint(pc, RowNamed(pc, "Films"));
        DragAndDrop(films, films + wxPoint(0, 2));
        PumpFor(300);
    });
    EXPECT_EQ(ReadFileBytes(Pc("pc/x&&../notes.txt")), "notes");
    EXPECT_EQ(ReadFileBytes(Pc("pc/Films/Deep/deep.ts")), "deep");
    EXPECT_FALSE(std::filesystem::exists(Pc("pc/Films/deep.ts")));
}

TEST_F(MainWindowTest, ARefreshWhileARenameIsOpenEndsItAndRenamesNothing) {
    std::filesystem::create_directories(Pc("pc/r"));
    for (const char* name : {"a.ts", "b.ts", "c.ts"}) WriteFileBytes(Pc("pc/r/") + name, name);
    platform::Profile().WriteString("List 0", "LastPath", Pc("pc/r"));
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        ClickRow(pc, RowNamed(pc, "b.ts"));
        window_test::PressKey(WXK_F2);
        ASSERT_TRUE(PumpUntil([&] { return pc->GetEditControl() != nullptr; }));
        pc->GetEditControl()->SelectAll();
        wxUIActionSimulator simulator;
        simulator.Text("renamed.ts");
        PumpFor(50);
        // Meanwhile another program takes a.ts away, and the user presses F5.
        std::filesystem::remove(Pc("pc/r/a.ts"));
        window_test::PressKey(WXK_F5);
        PumpFor(300);
        EXPECT_EQ(pc->GetEditControl(), nullptr);
        simulator.Char(WXK_RETURN);
        PumpFor(300);
    });
    EXPECT_EQ(ReadFileBytes(Pc("pc/r/b.ts")), "b.ts");
    EXPECT_EQ(ReadFileBytes(Pc("pc/r/c.ts")), "c.ts");
    EXPECT_FALSE(std::filesystem::exists(Pc("pc/r/renamed.ts")));
}

// A receiver disk too small for what is copied onto it.
class SmallReceiverTest : public MainWindowTest {
  protected:
    void SetUp() override {
        image_bytes_ = 24ull << 20;
        MainWindowTest::SetUp();
    }
};

TEST_F(SmallReceiverTest, ACopyThatWouldNotFitAsksFirstAndNoCopiesNothing) {
    WriteFileBytes(Pc("pc/big.ts"), RandomBytes(30 << 20, 7));
    std::vector<std::string> texts;
    Run([&](COV_USBDlg& dialog) {
        AnswerBoxes([&](CMessageBoxDialog& box) {
            texts.push_back(box.Message());
            if (texts.size() == 1) window_test::SaveScreenshot(&box, "transfer_space_question");
            return message_box::kIdNo;
        });
        CDirListCtrl* pc = dialog.Pane(0);
        ClickRow(pc, RowNamed(pc, "big.ts"));
        Click(dialog.FindWindow(main_window::kTransfer));
        EXPECT_TRUE(PumpUntil([&] { return !texts.empty(); }, 20000));
        PumpFor(500);
        EXPECT_EQ(CFileProgress::Get().Window(), nullptr);
    });
    ASSERT_EQ(texts.size(), 1u);  // the question only: nothing started, nothing to sum up
    EXPECT_NE(texts[0].find("not enough free space"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find("Copy anyway?"), std::string::npos);
    Connect();
    EXPECT_EQ(ReceiverBytes("C:\\big.ts"), "<missing>");
    ExpectDiskClean();
}

TEST_F(SmallReceiverTest, CopiedAnywayAFullDiskIsToldBeforeTheSummary) {
    WriteFileBytes(Pc("pc/big.ts"), RandomBytes(30 << 20, 7));
    std::vector<std::string> titles, texts;
    Run([&](COV_USBDlg& dialog) {
        AnswerBoxes([&](CMessageBoxDialog& box) {
            titles.push_back(box.GetTitle().utf8_string());
            texts.push_back(box.Message());
            if (titles.size() == 2) window_test::SaveScreenshot(&box, "transfer_failures");
            return box.Plan().buttons.front().command;  // yes, copy anyway; then OK
        });
        CDirListCtrl* pc = dialog.Pane(0);
        ClickRow(pc, RowNamed(pc, "big.ts"));
        Click(dialog.FindWindow(main_window::kTransfer));
        EXPECT_TRUE(PumpUntil([&] { return titles.size() == 3; }, 45000));
    });
    ASSERT_EQ(titles.size(), 3u);
    EXPECT_NE(texts[0].find("not enough free space"), std::string::npos) << texts[0];
    EXPECT_EQ(titles[1], "Attention!");
    EXPECT_NE(texts[1].find("full"), std::string::npos) << texts[1];
    EXPECT_EQ(titles[2], "File Transfer Summary");
}

TEST_F(MainWindowTest, NamesThatAreNoUtf8AreShownAndTheirFoldersReachedAgain) {
    // Latin-1 names, as an old disk has them.
    const std::string folder =
        Pc("pc/Fran\xe7"
           "ais");
    std::filesystem::create_directories(folder);
    WriteFileBytes(folder + "/caf\xe9.ts", "coffee");
    const std::string section = CPreferences::Get().Section(0);
    AddPathHistory(section, folder);
    AddPathHistory(section, Pc("pc"));
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        EXPECT_GE(RowNamed(pc,
                           "Fran\xc3\xa7"
                           "ais"),
                  0);
        PumpFor(100);
        Click(dialog.FindWindow(main_window::kLeftOlder));
        EXPECT_EQ(pc->GetCurrentDir(), folder);
        EXPECT_TRUE(PumpUntil([&] { return RowNamed(pc, "caf\xc3\xa9.ts") >= 0; }));
    });
}

TEST_F(MainWindowTest, AnUnchangedNameThatIsNoUtf8KeepsItsBytes) {
    WriteFileBytes(Pc("pc/caf\xe9.ts"), "coffee");
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        ClickRow(pc, RowNamed(pc, "caf\xc3\xa9.ts"));
        window_test::PressKey(WXK_F2);
        ASSERT_TRUE(PumpUntil([&] { return pc->GetEditControl() != nullptr; }));
        wxUIActionSimulator().Char(WXK_RETURN);
        EXPECT_TRUE(PumpUntil([&] { return pc->GetEditControl() == nullptr; }));
        PumpFor(300);
        EXPECT_GE(RowNamed(pc, "caf\xc3\xa9.ts"), 0);
    });
    EXPECT_EQ(ReadFileBytes(Pc("pc/caf\xe9.ts")), "coffee");
    EXPECT_FALSE(std::filesystem::exists(Pc("pc/caf\xc3\xa9.ts")));
}

TEST_F(MainWindowTest, ACloseDuringADragEndsItCleanly) {
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        CDirListCtrl* box = dialog.Pane(1);
        ClickRow(pc, RowNamed(pc, "notes.txt"));
        DragAndDrop(RowPoint(pc, RowNamed(pc, "notes.txt")), RowPoint(box, 0), [&](int step) {
            if (step == 10) dialog.Close();  // what the close box and a quit signal do
        });
        PumpFor(200);
        EXPECT_FALSE(dialog.Dragging());
    });
    EXPECT_EQ(ReadFileBytes(Pc("pc/notes.txt")), "notes");
}

TEST_F(MainWindowTest, AFolderChosenFromThePathBoxIsTheOneItShows) {
    std::filesystem::create_directories(Pc("pc/Films"));
    const std::string section = CPreferences::Get().Section(0);
    AddPathHistory(section, Pc("pc/Films"));
    AddPathHistory(section, Pc("pc"));
    Run([&](COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        auto* box = static_cast<wxComboBox*>(dialog.FindWindow(main_window::kLeftPath));
        PumpFor(100);
        // The history changes without the box being filled again (a rename adds the folder).
        Click(dialog.FindWindow(main_window::kLeftOlder));
        ASSERT_EQ(pc->GetCurrentDir(), Pc("pc/Films"));
        ClickRow(pc, RowNamed(pc, "inner.ts"));
        dialog.OnBnClickedBtRename();
        ASSERT_TRUE(PumpUntil([&] { return pc->GetEditControl() != nullptr; }));
        pc->EndEditLabel(true);
        PumpFor(200);
        const int shown_as_pc = box->FindString(wxString::FromUTF8(Pc("pc")), true);
        ASSERT_GE(shown_as_pc, 0);
        box->SetSelection(shown_as_pc);
        wxCommandEvent chosen(wxEVT_COMBOBOX, main_window::kLeftPath);
        chosen.SetInt(shown_as_pc);
        box->GetEventHandler()->ProcessEvent(chosen);
        PumpFor(200);
        EXPECT_EQ(pc->GetCurrentDir(), Pc("pc"));
    });
}
