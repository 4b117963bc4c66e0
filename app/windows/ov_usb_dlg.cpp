#include "app/windows/ov_usb_dlg.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/dragimag.h>
#include <wx/evtloop.h>
#include <wx/statline.h>
#include <wx/stattext.h>

#include <cstdio>

#include "app/log.h"
#include "app/main_window_layout.h"
#include "app/preferences.h"
#include "app/settings.h"
#include "app/string_table.h"
#include "controls/icon_edit.h"
#include "controls/pie_progress.h"
#include "controls/png_image.h"
#include "controls/sx_button.h"
#include "controls/vista_bar.h"
#include "controls/window_text.h"
#include "emulator/emulated_receiver.h"
#include "panes/windows/dir_list_ctrl.h"
#include "platform/pc_volumes.h"
#include "platform/profile_store.h"
#include "pvrdisk/link/link_backend.h"
#include "transfer/function_mgr.h"
#include "transfer/progress.h"
#include "transfer/receiver_connection.h"
#include "transfer/windows/file_progress.h"

using namespace main_window;

namespace {
constexpr int kStringAboutItem = 101;
constexpr int kStringDriveInfo = 111;
constexpr int kStringSearchHint = 122;
constexpr int kStringName = 123, kStringVersion = 124;
constexpr int kAboutCommand = 16;

// Device changes arrive from a backend's own thread (libusb's hotplug) or from the emulated
// receiver; they reach the window as an event on its own thread.
void PostDeviceChange(bool, void* context) {
    auto* dialog = static_cast<COV_USBDlg*>(context);
    dialog->CallAfter(&COV_USBDlg::OnDeviceChange);
}

}  // namespace

COV_USBDlg::COV_USBDlg(wxWindow* parent, ReceiverLifecycle* lifecycle,
                       emulator::EmulatedReceiver* emulated)
    : wxDialog(parent, wxID_ANY,
               WindowText(LoadResString(kStringName) + " " + LoadResString(kStringVersion)),
               wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER | wxMAXIMIZE_BOX | wxMINIMIZE_BOX),
      lifecycle_(lifecycle),
      emulated_(emulated),
      transfer_buffer_size_(65536) {
    LogScope scope("COV_USBDlg::OnInitDialog", 1);
    COvSession::Get().SetUp();
    LogLine("Getting transfer buffer size", 3);
    transfer_buffer_size_ = settings::BufferSize();
    {
        wxBitmap icon(ArtworkImage(ArtworkId::kProgramIcon32));
        wxIcon window_icon;
        window_icon.CopyFromBitmap(icon);
        SetIcon(window_icon);
    }
    LogLine("Try to connect to PVR", 3);
    active_pane_ = 1;
    const bool mounted = lifecycle_ != nullptr && lifecycle_->ConnectAtStart();

    const WindowRect rect = ReadWindowRect();
    SetSize(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    CreateControls();
    SetUpLeftSide();
    SetUpRightSide();
    LogLine("Setup path histories, get current dirs etc.", 2);
    if (mounted) Pane(1)->OV_Dir(Pane(1)->GetCurrentDir());
    FillDriveChooser();
    SetDriveInfo(1, "C:\\");
    panes_[1]->SetFocus();
    paths_[1]->SetValue(WindowText(GetLastPath(CPreferences::Get().Section(1))));
    BindEvents();
    set_up_done_ = true;
    ResizeControls();
    SetDeviceChangeHandler(&PostDeviceChange, this);
}

COV_USBDlg::~COV_USBDlg() {
    LogScope scope("COV_USBDlg::OnDestroy", 3);
    SetDeviceChangeHandler(nullptr, nullptr);
    for (int side = 0; side < 2; ++side) {
        // The panes go after this window's own part is gone; they must not ask it anything.
        Pane(side)->SetHost(nullptr);
        AddPathHistory(CPreferences::Get().Section(side), Pane(side)->GetCurrentDir());
        Pane(side)->RefreshPathHistory();
    }
    if (lifecycle_ != nullptr) lifecycle_->Release();
}

void COV_USBDlg::CreateControls() {
    separator_ = new wxStaticLine(this, kSeparator);
    drives_ = new wxChoice(this, kDrives);
    pvr_label_ = new wxStaticText(this, kPvrLabel, "PVR:");
    if (emulated_ != nullptr)
        pvr_label_->SetToolTip("Ctrl+U pulls the emulated receiver's plug and puts it back");
    search_ = new CIconEdit(this, kSearch);
    search_->SetIcon(wxBitmap(ArtworkImage(ArtworkId::kSearchIcon)));
    search_->SetHintText(WindowText(LoadResString(kStringSearchHint)));
    const int path_ids[2] = {kLeftPath, kRightPath};
    const int list_ids[2] = {kLeftList, kRightList};
    const int pie_ids[2] = {kLeftPie, kRightPie};
    const int bar_ids[2] = {kLeftInfo, kRightInfo};
    const int older_ids[2] = {kLeftOlder, kRightOlder};
    const int newer_ids[2] = {kLeftNewer, kRightNewer};
    for (int side = 0; side < 2; ++side) {
        paths_[side] = new wxComboBox(this, path_ids[side], "", wxDefaultPosition, wxDefaultSize, 0,
                                      nullptr, wxCB_DROPDOWN);
        panes_[side] = new CDirListCtrl(this, list_ids[side]);
        // The pie sits on its information bar: created after it, so drawn above it.
        bars_[side] = new CVistaBar(this, bar_ids[side]);
        pies_[side] = new CPieProgress(this, pie_ids[side]);
        older_[side] = new CSXButton(this, older_ids[side], "<");
        newer_[side] = new CSXButton(this, newer_ids[side], ">");
        older_[side]->SetToolTip("Older folder");
        newer_[side]->SetToolTip("Newer folder");
        bars_[side]->SetBuddy(pies_[side]);
        pies_[side]->SetBackdrop(bars_[side]);
    }
    transfer_ = new CSXButton(this, kTransfer, "&Transfer file(s)");
    rename_ = new CSXButton(this, kRename, "&Rename file");
    delete_ = new CSXButton(this, kDelete, "&Delete file(s)");
    create_dir_ = new CSXButton(this, kCreateDir, "&Create Dir");
    settings_ = new CSXButton(this, kSettings, "&Settings");
    about_ = new CSXButton(this, kAbout, "&About");
    verify_ = new wxCheckBox(this, kVerify, "&Verify copies");
    verify_->SetToolTip("Read every copied file back and compare it with its source");
    verify_->SetValue(settings::VerifyCopies());
}

void COV_USBDlg::SetUpLeftSide() {
    LogLine("Setup left side controls (windows HD)", 2);
    CDirListCtrl* pane = Pane(0);
    pane->SetSide(0);
    pane->SetHost(this);
    pane->SetStatusBar(bars_[0]);
    pane->SetPathBox(paths_[0]);
    pane->SetHeaderItem();
    pane->SetCurrentDir(GetLastPath(CPreferences::Get().Section(0)));
    pane->AddDirList();
    pane->SetSelectedInfo();
    pane->FitColumns();
    pane->RefreshPathHistory();
    pies_[0]->SetRange(0, 1024);
    pies_[0]->SetColors(wxColour(55, 177, 77), wxColour(255, 111, 111));
}

void COV_USBDlg::SetUpRightSide() {
    LogLine("Setup right side controls (PVR HD)", 2);
    CDirListCtrl* pane = Pane(1);
    pane->SetSide(1);
    pane->SetHost(this);
    pane->SetStatusBar(bars_[1]);
    pane->SetPathBox(paths_[1]);
    pane->SetCurrentDir(GetLastPath(CPreferences::Get().Section(1)));
    pane->SetHeaderItem();
    pane->FitColumns();
    pane->RefreshPathHistory();
    pies_[1]->SetRange(0, 1024);
    pies_[1]->SetColors(wxColour(55, 177, 77), wxColour(255, 111, 111));
}

void COV_USBDlg::FillDriveChooser() {
    drives_->Clear();
    drive_points_.clear();
    for (const platform::PcVolume& volume : platform::ListPcVolumes()) {
        drives_->Append(WindowText("[-" + volume.mount_point + "-]"));
        drive_points_.push_back(volume.mount_point);
    }
    const std::string folder = Pane(0)->GetCurrentDir();
    SelectDriveOf(folder);
    SetDriveInfo(0, platform::VolumeOf(folder));
    paths_[0]->SetValue(WindowText(folder));
}

void COV_USBDlg::SelectDriveOf(const std::string& folder) {
    const std::string volume = platform::VolumeOf(folder);
    for (size_t i = 0; i < drive_points_.size(); ++i) {
        if (drive_points_[i] == volume) {
            drives_->SetSelection(static_cast<int>(i));
            return;
        }
    }
    // A volume the list did not have (a folder on a bind mount, say): shown as it is.
    drives_->Append(WindowText("[-" + volume + "-]"));
    drive_points_.push_back(volume);
    drives_->SetSelection(static_cast<int>(drive_points_.size() - 1));
}

void COV_USBDlg::OnHistoryChanged(int) {
    UpdateButtons();
}

void COV_USBDlg::OnDeviceChange() {
    if (lifecycle_ == nullptr) return;
    switch (lifecycle_->OnDeviceNodesChanged(transferring_)) {
        case ReceiverLifecycle::Change::kReconnected: {
            CDirListCtrl* pane = Pane(1);
            pane->OV_Dir(pane->GetCurrentDir());
            SetDriveInfo(1, "*");
            LogLine("   Current path: " + pane->GetCurrentDir(), 2);
            break;
        }
        case ReceiverLifecycle::Change::kPulledOut:
            if (transferring_) receiver_rows_dropped_ = true;
            Pane(1)->RemoveDirListEntries();
            SetDriveInfo(1, "C:\\");  // hides the pie while the receiver is away
            if (!transferring_) idle_ = true;
            break;
        case ReceiverLifecycle::Change::kReconnectFailed:
            if (!transferring_) idle_ = true;
            break;
        default:
            break;
    }
    UpdateButtons();
}

void COV_USBDlg::TogglePlug() {
    if (emulated_ == nullptr) return;
    if (emulated_->IsPlugged())
        emulated_->Unplug();
    else
        emulated_->Plug();
}

void COV_USBDlg::SetDriveInfo(int side, std::string drive) {
    LogScope scope("COV_USBDlg::SetDriveInfo", 3);
    if (drive.empty()) drive = side == 0 ? platform::VolumeOf(Pane(0)->GetCurrentDir()) : "C:\\";
    platform::Profile().WriteString(CPreferences::Get().Section(side), "DriveSel", drive);
    char text[512];
    if (side == 1) {
        ReceiverSpace space;
        if (UsbFailure || !QueryReceiverSpace(ActiveReceiver(), &space)) {
            pies_[1]->Hide();
            return;
        }
        const uint64_t free_kb = space.free_bytes / 1024, total_kb = space.total_bytes / 1024;
        std::snprintf(text, sizeof text, LoadResString(kStringDriveInfo).c_str(), "DE_ZIV",
                      static_cast<double>(free_kb) / 1048576.0,
                      static_cast<double>(total_kb) / 1048576.0);
        bars_[1]->SetFirstText(WindowText(text));
        pies_[1]->Show();
        pies_[1]->SetRange(0, static_cast<long>(total_kb / 1024));
        pies_[1]->SetPos(static_cast<long>(free_kb / 1024));
        return;
    }
    uint64_t free_bytes = 0, total_bytes = 0;
    if (!platform::PcVolumeSpace(drive, &free_bytes, &total_bytes)) return;
    const uint64_t free_kb = free_bytes / 1024, total_kb = total_bytes / 1024;
    std::snprintf(text, sizeof text, LoadResString(kStringDriveInfo).c_str(),
                  platform::VolumeDisplayName(platform::VolumeOf(drive)).c_str(),
                  static_cast<double>(free_kb) / 1048576.0,
                  static_cast<double>(total_kb) / 1048576.0);
    bars_[0]->SetFirstText(WindowText(text));
    pies_[0]->SetRange(0, static_cast<long>(total_kb / 1024));
    pies_[0]->SetPos(static_cast<long>(free_kb / 1024));
}

void COV_USBDlg::ResizeControls() {
    LogScope scope("COV_USBDlg::ResizeControls", 2);
    const wxSize client = GetClientSize();
    for (const ControlPlace& place : MainWindowLayout(client.x, client.y)) {
        wxWindow* control = FindWindow(place.id);
        if (control == nullptr) continue;
        // Combo boxes keep their own height: the table gives the height of their drop-down.
        const int height = (place.id == kDrives || place.id == kLeftPath || place.id == kRightPath)
                               ? control->GetBestSize().y
                               : place.height;
        control->SetSize(place.left, place.top, place.width, height);
        if (place.id != kRightPie || !UsbFailure) control->Show();
    }
    Pane(0)->FitColumns();
    Pane(1)->FitColumns();
    Refresh(false);
}

void COV_USBDlg::OnMoveOrSize() {
    if (!set_up_done_ || IsIconized()) return;
    const wxRect rect = GetScreenRect();
    SaveWindowRect(rect.GetLeft(), rect.GetTop(), rect.GetRight() + 1, rect.GetBottom() + 1);
}

void COV_USBDlg::OnClose(wxCloseEvent&) {
    LogScope scope("COV_USBDlg::OnClose", 1);
    // A close during a transfer stops it; the window closes once the transfer has unwound.
    // A close while a question before a transfer or move is open keeps that from starting.
    close_after_transfer_ = true;
    if (transferring_) {
        CFileProgress::Get().RequestQuit();
        return;
    }
    // Ending this window's loop under a question's own loop would leave both running; the
    // window ends once the question has gone (EndPendingClose, when idle).
    if (!OtherModalOpen() && IsModal()) EndModal(wxID_CANCEL);
}

bool COV_USBDlg::OtherModalOpen() const {
    for (wxWindow* window : wxTopLevelWindows)
        if (auto* dialog = dynamic_cast<wxDialog*>(window);
            dialog != nullptr && dialog != this && dialog->IsModal())
            return true;
    return false;
}

void COV_USBDlg::EndPendingClose() {
    if (!IsModal() || OtherModalOpen()) return;
    // The window's own loop, known from an idle moment with no other modal window open. A
    // question that has just ended may still have its loop running; ending the window from
    // inside that loop would end the wrong one.
    wxEventLoopBase* active = wxEventLoopBase::GetActive();
    if (own_loop_ == nullptr) own_loop_ = active;
    if (close_after_transfer_ && !transferring_ && active == own_loop_) EndModal(wxID_CANCEL);
}
