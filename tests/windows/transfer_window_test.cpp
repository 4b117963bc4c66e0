// A transfer in the main window from start to end: the overwrite question answered file by
// file, the summary's counts, a quit request while it runs, and powering the PC off after it.
#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/gauge.h>
#include <wx/timer.h>

#include <filesystem>
#include <map>
#include <vector>

#include "app/log.h"
#include "app/main_window_layout.h"
#include "controls/message_box_dialog.h"
#include "panes/windows/dir_list_ctrl.h"
#include "platform/profile_store.h"
#include "tests/gui_support/modal_driver.h"
#include "tests/gui_support/window_test_support.h"
#include "tests/power/logind_mock.h"
#include "tests/windows/main_window_fixture.h"
#include "transfer/gathering.h"
#include "transfer/overwrite_check.h"
#include "transfer/win_function_mgr.h"
#include "transfer/windows/file_progress.h"

using window_test::Click;
using window_test::PumpFor;
using window_test::PumpUntil;

namespace {
constexpr const char* kAttention = "Attention!";

std::string Summary(int fresh, int overwritten, int resumed, int kept, int skipped) {
    return "New files copied:\t" + std::to_string(fresh) + "\r\nOverwritten files:\t" +
           std::to_string(overwritten) + "\r\nResumed files:\t" + std::to_string(resumed) +
           "\r\nEqual files kept:\t" + std::to_string(kept) + "\r\nSkipped by user:\t" +
           std::to_string(skipped);
}

// The file name an overwrite question asks about ("Existing File:\r\n<name> (...").
std::string AskedName(const std::string& question) {
    const std::string mark = "Existing File:\r\n";
    const size_t at = question.find(mark);
    if (at == std::string::npos) return "";
    const size_t from = at + mark.size();
    return question.substr(from, question.find(" (", from) - from);
}

class TransferWindowTest : public MainWindowTest {
  protected:
    // Five files in pc/batch, each already on the receiver's root with other, shorter
    // bytes; the PC pane starts in pc/batch.
    void MakeBatch() {
        std::filesystem::create_directories(Pc("pc/batch"));
        for (int i = 1; i <= 5; ++i) {
            const std::string name = "f" + std::to_string(i) + ".ts";
            WriteFileBytes(Pc("pc/batch/" + name), RandomBytes(40000 + i, 10 + i));
            PutOnReceiver("C:\\" + name, "old " + name);
        }
        platform::Profile().WriteString("List 0", "LastPath", Pc("pc/batch"));
    }
    // Selects every file of the PC pane and clicks Transfer.
    void TransferAllOfThePcPane(COV_USBDlg& dialog) {
        CDirListCtrl* pc = dialog.Pane(0);
        ClickRow(pc, RowNamed(pc, "f1.ts"));
        window_test::PressKey('A', wxMOD_CONTROL);
        Click(dialog.FindWindow(main_window::kTransfer));
    }
    // Answers the questions by file name and records them; records the summary's text.
    void AnswerQuestions(std::map<std::string, int> answers) {
        AnswerBoxes([this, answers](CMessageBoxDialog& box) {
            if (box.GetTitle() != kAttention) {
                if (summaries_.empty()) window_test::SaveScreenshot(&box, "transfer_summary");
                summaries_.push_back(box.Message());
                return message_box::kIdOk;
            }
            if (asked_.empty()) window_test::SaveScreenshot(&box, "overwrite_question");
            asked_.push_back(AskedName(box.Message()));
            const auto answer = answers.find(asked_.back());
            return answer == answers.end() ? message_box::kIdNo : answer->second;
        });
    }

    std::vector<std::string> asked_;
    std::vector<std::string> summaries_;
};
}  // namespace

TEST_F(TransferWindowTest, QuestionsFileByFileUntilNoToAll) {
    MakeBatch();
    std::string f1;
    Run([&](COV_USBDlg& dialog) {
        f1 = ReadFileBytes(Pc("pc/batch/f1.ts"));
        AnswerQuestions({{"f1.ts", message_box::kIdYes},
                         {"f2.ts", message_box::kIdNo},
                         {"f3.ts", message_box::kIdNoToAll}});
        TransferAllOfThePcPane(dialog);
        EXPECT_TRUE(PumpUntil([&] { return !summaries_.empty(); }, 30000));
    });
    // f4 and f5 were not asked about: "No to all" answered for them.
    EXPECT_EQ(asked_, (std::vector<std::string>{"f1.ts", "f2.ts", "f3.ts"}));
    ASSERT_EQ(summaries_.size(), 1u);
    EXPECT_EQ(summaries_[0], Summary(0, 1, 0, 0, 4));
    Connect();
    EXPECT_EQ(ReceiverBytes("C:\\f1.ts"), f1);
    for (int i = 2; i <= 5; ++i) {
        const std::string name = "f" + std::to_string(i) + ".ts";
        EXPECT_EQ(ReceiverBytes("C:\\" + name), "old " + name);
    }
    ExpectDiskClean();
}

TEST_F(TransferWindowTest, YesToAllAtTheFirstOverwritesEveryOneAndCountsTheNewFile) {
    MakeBatch();
    WriteFileBytes(Pc("pc/batch/f6.ts"), RandomBytes(30000, 99));
    Run([&](COV_USBDlg& dialog) {
        AnswerQuestions({{"f1.ts", message_box::kIdYesToAll}});
        TransferAllOfThePcPane(dialog);
        EXPECT_TRUE(PumpUntil([&] { return !summaries_.empty(); }, 30000));
    });
    EXPECT_EQ(asked_, std::vector<std::string>{"f1.ts"});
    ASSERT_EQ(summaries_.size(), 1u);
    EXPECT_EQ(summaries_[0], Summary(1, 5, 0, 0, 0));
    Connect();
    for (int i = 1; i <= 6; ++i) {
        const std::string name = "f" + std::to_string(i) + ".ts";
        EXPECT_EQ(ReceiverBytes("C:\\" + name), ReadFileBytes(Pc("pc/batch/" + name))) << name;
    }
}

TEST_F(TransferWindowTest, AllSkippedCopiesNothingAndStillSummarises) {
    MakeBatch();
    Run([&](COV_USBDlg& dialog) {
        AnswerQuestions({{"f1.ts", message_box::kIdNoToAll}});
        TransferAllOfThePcPane(dialog);
        EXPECT_TRUE(PumpUntil([&] { return !summaries_.empty(); }, 30000));
        // No transfer ran: the window takes commands at once.
        EXPECT_EQ(CFileProgress::Get().Window(), nullptr);
    });
    ASSERT_EQ(summaries_.size(), 1u);
    EXPECT_EQ(summaries_[0], Summary(0, 0, 0, 0, 5));
}

// A slow copy of a 12 MiB file, long enough to act on while it runs.
class SlowTransferTest : public TransferWindowTest {
  protected:
    void SetUp() override {
        TransferWindowTest::SetUp();
        WriteFileBytes(Pc("pc/clip.ts"), RandomBytes(12 << 20, 7));
        clip_ = ReadFileBytes(Pc("pc/clip.ts"));
        emulator::FaultPlan slow;
        slow.latency_per_command_ms = 15;
        receiver_->SetFaultPlan(slow);
    }
    // Starts copying clip.ts to the receiver's root; `during` runs on a timer while the
    // progress window is up, until it returns true.
    void CopyClip(COV_USBDlg& dialog, const std::function<bool(CFileProgress&)>& during) {
        CDirListCtrl* pc = dialog.Pane(0);
        ClickRow(pc, RowNamed(pc, "clip.ts"));
        timer_.Bind(wxEVT_TIMER, [this, during](wxTimerEvent&) {
            CFileProgress& progress = CFileProgress::Get();
            if (progress.Window() != nullptr && during(progress)) timer_.Stop();
        });
        timer_.Start(100);
        Click(dialog.FindWindow(main_window::kTransfer));
    }
    std::string clip_;
    wxTimer timer_;
};

TEST_F(SlowTransferTest, AQuitRequestStopsTheCopyAndEndsTheWindowThenTheCopyResumes) {
    bool quit_asked = false;
    Run([&](COV_USBDlg& dialog) {
        AnswerQuestions({});
        CopyClip(dialog, [&](CFileProgress& progress) {
            // Far enough for a resume (more than 2 MiB), far from the end.
            auto* bar =
                static_cast<wxGauge*>(progress.Window()->FindWindow(CFileProgress::kIdFileBar));
            if (bar->GetValue() < 30) return false;
            quit_asked = true;
            dialog.Close();  // what the close box and a quit signal do
            return true;
        });
        // The window ends by itself once the copy has unwound; this runs after that.
    });
    EXPECT_TRUE(quit_asked);
    EXPECT_TRUE(summaries_.empty());  // nothing waits for an answer on the way out
    Connect();
    const std::string partial = ReceiverBytes("C:\\clip.ts");
    ASSERT_GT(partial.size(), 0u);
    ASSERT_LT(partial.size(), clip_.size());
    EXPECT_EQ(partial, clip_.substr(0, partial.size()));

    // The partial copy resumes: the same engine call as the window's next transfer.
    CWinFunctionMgr win;
    CDirEntry record;
    ASSERT_TRUE(MakePcRecord(Pc("pc"), "clip.ts", &record));
    CDirList one;
    one.Add(record);
    CDirList files = GatherSelection(one, false);
    receiver_->SetFaultPlan({});
    ASSERT_TRUE(win.CopyFiles(&files, Pc("pc"), "C:\\"));
    EXPECT_EQ(CountTransfer(win).resumed, 1u);
    EXPECT_EQ(ReceiverBytes("C:\\clip.ts"), clip_);
    ExpectDiskClean();
}

// The PC's power against a logind mock on a private bus; the log at level 2 in a folder of
// the test's.
class ShutDownTest : public SlowTransferTest {
  protected:
    void SetUp() override {
        SlowTransferTest::SetUp();
        platform::Profile().WriteInt("Settings", "LogLevel", 2);
        platform::Profile().WriteString("Settings", "Path Log", Pc("logs"));
        StartLog();
    }
    // Copies clip.ts with the shut-down box ticked by a click once the window shows.
    void CopyClipWithTheBoxTicked(COV_USBDlg& dialog) {
        CopyClip(dialog, [](CFileProgress& progress) {
            auto* box =
                static_cast<wxCheckBox*>(progress.Window()->FindWindow(CFileProgress::kIdShutDown));
            if (!box->IsChecked()) Click(box);
            return box->IsChecked();
        });
    }
    std::string Log() { return ReadFileBytes(GetLogFilePath()); }
    LogindMock logind_;
};

TEST_F(ShutDownTest, TickedBoxPowersOffOnceInsteadOfTheSummary) {
    ASSERT_TRUE(logind_.Ready()) << logind_.Failure();
    Run([&](COV_USBDlg& dialog) {
        AnswerQuestions({});
        CopyClipWithTheBoxTicked(dialog);
        EXPECT_TRUE(PumpUntil([&] { return logind_.CallsOf("PowerOff") > 0; }, 30000));
        PumpFor(300);
    });
    EXPECT_EQ(logind_.CallsOf("PowerOff"), 1);
    EXPECT_TRUE(summaries_.empty());
    EXPECT_EQ(Log().find("Failed to shutdown"), std::string::npos);
    Connect();
    EXPECT_EQ(ReceiverBytes("C:\\clip.ts"), clip_);
}

TEST_F(ShutDownTest, UntickedBoxShowsTheSummaryAndLeavesThePowerAlone) {
    ASSERT_TRUE(logind_.Ready()) << logind_.Failure();
    Run([&](COV_USBDlg& dialog) {
        AnswerQuestions({});
        CopyClip(dialog, [](CFileProgress& progress) {
            // Ticked and unticked again: the flag follows the box.
            auto* box =
                static_cast<wxCheckBox*>(progress.Window()->FindWindow(CFileProgress::kIdShutDown));
            Click(box);
            Click(box);
            return true;
        });
        EXPECT_TRUE(PumpUntil([&] { return !summaries_.empty(); }, 30000));
    });
    EXPECT_EQ(logind_.CallsOf("PowerOff"), 0);
    EXPECT_EQ(summaries_.size(), 1u);
}

TEST_F(ShutDownTest, ARefusedPowerOffIsLoggedAndTheProgramGoesOn) {
    ASSERT_TRUE(logind_.Ready()) << logind_.Failure();
    logind_.MakeMethodFail("PowerOff", "b", "org.freedesktop.DBus.Error.AccessDenied",
                           "Access denied");
    Run([&](COV_USBDlg& dialog) {
        AnswerQuestions({});
        CopyClipWithTheBoxTicked(dialog);
        EXPECT_TRUE(PumpUntil(
            [&] { return Log().find("Failed to shutdown: ") != std::string::npos; }, 30000));
        // Still running: the next transfer works (the box stays ticked, so it asks again).
        CDirListCtrl* pc = dialog.Pane(0);
        ClickRow(pc, RowNamed(pc, "notes.txt"));
        Click(dialog.FindWindow(main_window::kTransfer));
        EXPECT_TRUE(PumpUntil([&] { return logind_.CallsOf("PowerOff") == 2; }, 30000));
    });
    EXPECT_NE(Log().find("Access denied"), std::string::npos);
    Connect();
    EXPECT_EQ(ReceiverBytes("C:\\notes.txt"), "notes");
}
