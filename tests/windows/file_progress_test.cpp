// The progress dialog during real copies to the emulated receiver: what it shows, and Cancel,
// Escape and the close box stopping a copy that a second run resumes.
#include "transfer/windows/file_progress.h"

#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include <set>

#include "pvrdisk/fs/raw_file.h"
#include "tests/gui_support/modal_driver.h"
#include "tests/gui_support/window_test_support.h"
#include "tests/transfer/receiver_fixture.h"
#include "transfer/gathering.h"
#include "transfer/win_function_mgr.h"

namespace {
class FileProgressTest : public ReceiverFixture {
  protected:
    void SetUp() override {
        ReceiverFixture::SetUp();
        MakeImage(256ull << 20, 32768);
        Connect();
        emulator::FaultPlan slow;
        slow.latency_per_command_ms = 15;  // a copy of a few seconds, as over a real link
        receiver_->SetFaultPlan(slow);
        bytes_ = RandomBytes(12 << 20, 3);
        WriteFileBytes(Pc("film.ts"), bytes_);
        owner_ = new wxFrame(nullptr, wxID_ANY, "owner", wxPoint(0, 0), wxSize(300, 200));
        owner_->Show();
    }
    void TearDown() override {
        CFileProgress::Get().DestroyWindow();
        owner_->Destroy();
        ReceiverFixture::TearDown();
    }

    // Copies film.ts to the receiver's root with the dialog; `each_100ms` runs on a timer
    // while the copy runs (its events are handled inside the dialog's steps).
    bool Put(const std::function<void(CFileProgress&)>& each_100ms) {
        CWinFunctionMgr win;
        CDirEntry record;
        EXPECT_TRUE(MakePcRecord(folder_.Path(), "film.ts", &record));
        CDirList one;
        one.Add(record);
        CDirList files = GatherSelection(one, false);
        CFileProgress& progress = CFileProgress::Get();
        progress.Create(owner_);
        win.progress = &CFileProgress::ProgressCallback;
        win.progress_context = &progress;
        wxTimer timer;
        timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { each_100ms(progress); });
        timer.Start(100);
        const bool copied = win.CopyFiles(&files, folder_.Path(), "C:\\");
        timer.Stop();
        progress.DestroyWindow();
        return copied;
    }
    std::string ReceiverBytes() {
        CRawFile file;
        if (!file.Open("C:\\film.ts", CFile::modeRead | CFile::typeBinary)) return "";
        std::string bytes(file.GetLength(), '\0');
        if (!bytes.empty()) file.Read(bytes.data(), static_cast<unsigned>(bytes.size()));
        return bytes;
    }
    template <typename T>
    static T* Control(CFileProgress& progress, int id) {
        return static_cast<T*>(progress.Window()->FindWindow(id));
    }

    std::string bytes_;
    wxFrame* owner_ = nullptr;
};
}  // namespace

TEST_F(FileProgressTest, ShowsTheFileTheStatusAndBothBarsMoving) {
    std::set<int> file_values, overall_values;
    wxString file_text, status_text;
    bool shot = false;
    ASSERT_TRUE(Put([&](CFileProgress& progress) {
        file_values.insert(Control<wxGauge>(progress, CFileProgress::kIdFileBar)->GetValue());
        overall_values.insert(Control<wxGauge>(progress, CFileProgress::kIdOverallBar)->GetValue());
        file_text = Control<wxStaticText>(progress, CFileProgress::kIdFile)->GetLabel();
        status_text = Control<wxStaticText>(progress, CFileProgress::kIdStatus)->GetLabel();
        if (!shot && file_values.size() > 2) {
            window_test::SaveScreenshot(progress.Window(), "progress_dialog");
            shot = true;
        }
    }));
    EXPECT_EQ(ReceiverBytes(), bytes_);
    EXPECT_GE(file_values.size(), 3u);  // the file bar moved
    EXPECT_GE(overall_values.size(), 2u);
    EXPECT_NE(file_text.Find("film.ts"), wxNOT_FOUND) << file_text;
    EXPECT_NE(status_text.Find("MB of"), wxNOT_FOUND) << status_text;
    EXPECT_NE(status_text.Find("remaining:"), wxNOT_FOUND) << status_text;
    EXPECT_FALSE(CFileProgress::Get().ShutDownRequested());
}

TEST_F(FileProgressTest, CancelEscapeAndTheCloseBoxStopACopyThatResumesLater) {
    const std::function<void(CFileProgress&)> stops[] = {
        [](CFileProgress& p) {
            window_test::Click(p.Window()->FindWindow(CFileProgress::kIdCancel));
        },
        [](CFileProgress& p) {
            p.Window()->FindWindow(CFileProgress::kIdCancel)->SetFocus();
            window_test::PressKey(WXK_ESCAPE);
        },
        [](CFileProgress& p) { p.Window()->Close(); },
    };
    size_t last_size = 0;
    for (const auto& stop : stops) {
        int ticks = 0;
        bool window_stayed = true;
        EXPECT_FALSE(Put([&](CFileProgress& progress) {
            if (++ticks == 4) stop(progress);
            // Stopping does not take the window away under the copy.
            if (ticks > 4 && !progress.Window()->IsShown()) window_stayed = false;
        }));
        EXPECT_TRUE(CFileProgress::Get().StopRequested());
        EXPECT_TRUE(window_stayed);
        const std::string partial = ReceiverBytes();
        ASSERT_LT(partial.size(), bytes_.size());
        EXPECT_EQ(partial, bytes_.substr(0, partial.size()));  // what is there is right
        EXPECT_GE(partial.size(), last_size);                  // and each run went on
        last_size = partial.size();
    }
    // A run to the end resumes the partial file.
    ASSERT_TRUE(Put([](CFileProgress&) {}));
    EXPECT_EQ(ReceiverBytes(), bytes_);
    ExpectDiskClean();
}

TEST_F(FileProgressTest, TheShutDownTickOutlivesTheWindow) {
    ASSERT_TRUE(Put([](CFileProgress& progress) {
        auto* box = Control<wxCheckBox>(progress, CFileProgress::kIdShutDown);
        if (!box->GetValue()) window_test::Click(box);
    }));
    EXPECT_TRUE(CFileProgress::Get().ShutDownRequested());
    // Ticked and unticked again: no shut-down.
    ASSERT_TRUE(Put([](CFileProgress& progress) {
        auto* box = Control<wxCheckBox>(progress, CFileProgress::kIdShutDown);
        if (box->GetValue()) window_test::Click(box);
    }));
    EXPECT_FALSE(CFileProgress::Get().ShutDownRequested());
}

TEST(FileProgressUpdate, PercentIsTruncated) {
    wxFrame* owner = new wxFrame(nullptr, wxID_ANY, "owner");
    CFileProgress& progress = CFileProgress::Get();
    progress.Create(owner);
    EXPECT_TRUE(progress.Update("status", 99.9f, kProgressFile));
    EXPECT_EQ(
        static_cast<wxGauge*>(progress.Window()->FindWindow(CFileProgress::kIdFileBar))->GetValue(),
        99);
    EXPECT_TRUE(progress.Update("", 42.7f, kProgressOverall));
    EXPECT_EQ(static_cast<wxGauge*>(progress.Window()->FindWindow(CFileProgress::kIdOverallBar))
                  ->GetValue(),
              42);
    EXPECT_TRUE(progress.Update("ignored", 10, 7));  // another mode does nothing
    progress.DestroyWindow();
    owner->Destroy();
}
