#include "tests/windows/main_window_fixture.h"

#include <wx/listctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <filesystem>

#include "app/preferences.h"
#include "controls/message_box_dialog.h"
#include "emulator/emulated_link_backend.h"
#include "panes/windows/dir_list_ctrl.h"
#include "platform/profile_store.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/pcfm.h"
#include "tests/gui_support/modal_driver.h"
#include "tests/gui_support/window_test_support.h"
#include "transfer/progress.h"

using window_test::Click;
using window_test::PumpFor;

long RowNamed(CDirListCtrl* pane, const std::string& name) {
    for (long row = 0; row < pane->GetItemCount(); ++row)
        if (pane->GetItemText(row).utf8_string() == name) return row;
    return -1;
}

wxPoint RowPoint(CDirListCtrl* pane, long row) {
    wxRect rect;
    pane->GetItemRect(row, rect, wxLIST_RECT_LABEL);
    return pane->ClientToScreen(wxPoint(rect.x + 10, rect.y + rect.height / 2));
}

void ClickRow(CDirListCtrl* pane, long row) {
    wxUIActionSimulator simulator;
    simulator.MouseMove(RowPoint(pane, row));
    PumpFor(30);
    simulator.MouseClick();
    PumpFor(80);
}

void DoubleClickRow(CDirListCtrl* pane, long row) {
    wxUIActionSimulator simulator;
    simulator.MouseMove(RowPoint(pane, row));
    PumpFor(30);
    simulator.MouseDblClick();
    PumpFor(150);
}

void AnswerSummaries(int* shown) {
    window_test::WhenDialogShows(
        [shown](wxDialog& dialog) {
            if (auto* box = dynamic_cast<CMessageBoxDialog*>(&dialog)) {
                ++*shown;
                Click(box->ButtonFor(message_box::kIdOk));
            }
        },
        45000);
}

void DragAndDrop(const wxPoint& from, const wxPoint& to, const std::function<void(int)>& at_step) {
    wxUIActionSimulator simulator;
    simulator.MouseMove(from);
    PumpFor(600);
    simulator.MouseDown();
    // The list begins a drag only after a few moves over the row itself.
    for (int nudge = 1; nudge <= 4; ++nudge) {
        simulator.MouseMove(from + wxPoint(3 * nudge, 0));
        PumpFor(20);
    }
    for (int step = 1; step <= 20; ++step) {
        simulator.MouseMove(from + (to - from) * step / 20);
        PumpFor(20);
        if (at_step) at_step(step);
    }
    simulator.MouseMove(to);
    PumpFor(50);
    simulator.MouseUp();
    PumpFor(300);
}

void MainWindowTest::AnswerBoxes(std::function<int(CMessageBoxDialog&)> choose, int bound_ms) {
    answering_ = std::make_unique<wxTimer>();
    auto waited_ms = std::make_shared<int>(0);
    auto busy = std::make_shared<bool>(false);
    answering_->Bind(wxEVT_TIMER, [this, choose, bound_ms, waited_ms, busy](wxTimerEvent&) {
        if (*busy) return;
        if ((*waited_ms += 50) > bound_ms) return answering_->Stop();
        // The box on the screen now that has not been answered yet: an answered one is no
        // longer modal, even before its window is gone.
        CMessageBoxDialog* box = nullptr;
        for (wxWindow* window : wxTopLevelWindows)
            if (auto* shown = dynamic_cast<CMessageBoxDialog*>(window);
                shown != nullptr && shown->IsModal() && shown->IsShownOnScreen())
                box = shown;
        if (box == nullptr) return;
        *busy = true;
        PumpFor(100);
        const int command = choose(*box);
        if (command == 0) {
            answering_->Stop();
        } else {
            *waited_ms = 0;
            Click(box->ButtonFor(command));
        }
        *busy = false;
    });
    answering_->Start(50);
}

void MainWindowTest::SetUp() {
    ReceiverFixture::SetUp();
    MakeImage(image_bytes_, 32768);
    // A receiver disk with a folder and a recording on it; the window connects itself.
    Connect();
    ASSERT_EQ(pcfm_mkdir("C:\\Recordings"), 0);
    connection_.Close();
    PutOnReceiver("C:\\Recordings\\news.TP0", "recording");
    std::filesystem::create_directories(Pc("pc/Films"));
    WriteFileBytes(Pc("pc/clip.ts"), RandomBytes(3 << 20, 1));
    WriteFileBytes(Pc("pc/notes.txt"), "notes");
    WriteFileBytes(Pc("pc/Films/inner.ts"), RandomBytes(70000, 2));
    platform::Profile().WriteString("List 0", "LastPath", Pc("pc"));
    DeviceConnected = false;
    UsbFailure = false;
    ReceiverConfig config;
    config.backend = &emulator::EmulatedLinkBackend();
    config.backing_file = image_;
    config.sectors = receiver_->SectorCount();
    lifecycle_ = std::make_unique<ReceiverLifecycle>(connection_, config,
                                                     [](int ms) { platform::SleepMs(ms); });
}

void MainWindowTest::TearDown() {
    answering_.reset();
    lifecycle_.reset();
    ReceiverFixture::TearDown();
}

void MainWindowTest::Run(const std::function<void(COV_USBDlg&)>& act) {
    COV_USBDlg dialog(nullptr, lifecycle_.get(), receiver_.get());
    window_test::DriveModal(
        dialog, [&] { return dialog.ShowModal(); },
        [&](wxDialog&) {
            PumpFor(200);
            act(dialog);
            dialog.Close();
        },
        60000);
}

void MainWindowTest::PutOnReceiver(const std::string& path, const std::string& bytes) {
    Connect();
    {
        CRawFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
        file.Write(bytes.data(), static_cast<unsigned>(bytes.size()));
    }
    connection_.Close();
}
