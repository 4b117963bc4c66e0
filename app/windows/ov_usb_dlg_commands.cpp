// The main window's commands: buttons, keys, the history buttons, the path and drive
// choosers, the search field, and the transfer itself.
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/listctrl.h>
#include <wx/settings.h>
#include <wx/utils.h>

#include "app/log.h"
#include "app/main_window_layout.h"
#include "app/preferences.h"
#include "app/settings.h"
#include "app/string_table.h"
#include "app/windows/about_dlg.h"
#include "app/windows/dlg_settings.h"
#include "app/windows/ov_usb_dlg.h"
#include "app/windows/transfer_questions.h"
#include "controls/icon_edit.h"
#include "controls/message_box_dialog.h"
#include "controls/sx_button.h"
#include "controls/window_text.h"
#include "panes/windows/dir_list_ctrl.h"
#include "platform/log_files.h"
#include "platform/pc_volumes.h"
#include "platform/system_power.h"
#include "pvrdisk/transport/bulk_only_transport.h"
#include "transfer/function_mgr.h"
#include "transfer/overwrite_check.h"
#include "transfer/progress.h"
#include "transfer/windows/file_progress.h"

using namespace main_window;

namespace {
// Commands of the accelerator table.
constexpr int kCmdRename = 32785, kCmdEpgRename = 32783, kCmdSearch = 32781;
constexpr int kCmdRefresh = 32784, kCmdLeftPane = 32790, kCmdRightPane = 32791;
constexpr int kCmdSelectAll = 32786, kCmdTogglePlug = 32799;
constexpr int kCmdTransferMenu = 32780, kCmdNewFolderMenu = 32775;

const wxColour kActiveLeft(221, 243, 255), kActiveRight(220, 255, 220);

}  // namespace

void COV_USBDlg::BindEvents() {
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBnClickedBtCopy(); }, kTransfer);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBnClickedBtRename(); }, kRename);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBnClickedBtDelete(); }, kDelete);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBnClickedBtCreateDir(); }, kCreateDir);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBnClickedBtSettings(); }, kSettings);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBnClickedBtAbout(); }, kAbout);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBnClickedBtPrev(0); }, kLeftOlder);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBnClickedBtPrev(1); }, kRightOlder);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBnClickedBtNext(0); }, kLeftNewer);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBnClickedBtNext(1); }, kRightNewer);
    Bind(
        wxEVT_COMBOBOX, [this](wxCommandEvent&) { OnPathSelected(0); }, kLeftPath);
    Bind(
        wxEVT_COMBOBOX, [this](wxCommandEvent&) { OnPathSelected(1); }, kRightPath);
    Bind(
        wxEVT_CHOICE, [this](wxCommandEvent&) { OnDriveSelected(); }, kDrives);
    Bind(
        wxEVT_CHECKBOX, [this](wxCommandEvent&) { settings::SetVerifyCopies(verify_->GetValue()); },
        kVerify);
    search_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { OnSearchChanged(); });
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { OnBnClickedBtCopy(); }, kCmdTransferMenu);
    Bind(
        wxEVT_MENU,
        [this](wxCommandEvent&) {
            if (idle_) Pane(active_pane_)->InsertNewDir();
        },
        kCmdNewFolderMenu);
    for (int side = 0; side < 2; ++side) {
        panes_[side]->Bind(wxEVT_SET_FOCUS, [this, side](wxFocusEvent& event) {
            OnSetfocusList(side);
            event.Skip();
        });
        panes_[side]->Bind(wxEVT_LIST_BEGIN_DRAG,
                           [this, side](wxListEvent&) { OnBegindragList(side); });
    }
    Bind(wxEVT_MOTION, &COV_USBDlg::OnDragMotion, this);
    Bind(wxEVT_LEFT_UP, &COV_USBDlg::OnLButtonUp, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) { EndDragging(true); });
    Bind(wxEVT_CHAR_HOOK, &COV_USBDlg::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &COV_USBDlg::OnClose, this);
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        if (set_up_done_) ResizeControls();
        OnMoveOrSize();
        event.Skip();
    });
    Bind(wxEVT_MOVE, [this](wxMoveEvent& event) {
        OnMoveOrSize();
        event.Skip();
    });
    Bind(wxEVT_IDLE, [this](wxIdleEvent& event) {
        UpdateButtons();
        EndPendingClose();
        event.Skip();
    });
    // Help requests show the About box: the program has no help file.
    Bind(wxEVT_HELP, [this](wxHelpEvent&) { OnBnClickedBtAbout(); });
}

void COV_USBDlg::OnCharHook(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    const bool ctrl = event.ControlDown();
    if (key == WXK_ESCAPE) return;  // the main window closes only by its close command
    if (key == WXK_F1) return OnBnClickedBtAbout();
    if (key == WXK_F2 && ctrl) {
        if (idle_) Pane(active_pane_)->RenameToEpgInfo();
        return;
    }
    if (key == WXK_F2) return OnBnClickedBtRename();
    if (key == WXK_F3) return search_->SetFocus();
    if (key == WXK_F5) return OnRefresh();
    if (key == WXK_F6) return Pane(0)->SetFocus();
    if (key == WXK_F7) return Pane(1)->SetFocus();
    if (ctrl && (key == 'A' || key == 1)) return SelectAllFiles();
    if (ctrl && key == 'U') return TogglePlug();
    // Enter goes to the active pane, never to a button of the window.
    if ((key == WXK_RETURN || key == WXK_NUMPAD_ENTER) && wxWindow::FindFocus() != search_ &&
        wxWindow::FindFocus() != paths_[0] && wxWindow::FindFocus() != paths_[1]) {
        wxWindow* focus = wxWindow::FindFocus();
        if (focus != Pane(0) && focus != Pane(1)) {
            Pane(active_pane_)->SetFocus();
        }
        event.Skip();
        return;
    }
    event.Skip();
}

void COV_USBDlg::OnSetfocusList(int side) {
    LogScope scope(side == 0 ? "COV_USBDlg::OnSetfocusList1" : "COV_USBDlg::OnSetfocusList2", 3);
    if (!idle_) return;
    active_pane_ = side;
    const wxColour window = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    Pane(0)->SetBackgroundColour(side == 0 ? kActiveLeft : window);
    Pane(1)->SetBackgroundColour(side == 1 ? kActiveRight : window);
    Pane(0)->Refresh();
    Pane(1)->Refresh();
}

void COV_USBDlg::UpdateButtons() {
    if (!set_up_done_) return;
    for (int side = 0; side < 2; ++side) {
        const bool usable = side == 0 || DeviceConnected;
        const int n = static_cast<int>(GetPathHistory(CPreferences::Get().Section(side)).size());
        const int p = history_position_[side];
        older_[side]->Enable(usable && n > 1 && p < n - 1);
        newer_[side]->Enable(usable && n >= 2 && p > 0);
        paths_[side]->Enable(usable);
    }
    const int selected = Pane(active_pane_)->GetSelectedItemCount();
    transfer_->Enable(selected > 0);
    delete_->Enable(idle_ && selected > 0);
    rename_->Enable(selected == 1);
}

void COV_USBDlg::OnBnClickedBtCopy() {
    LogScope scope("COV_USBDlg::OnBnClickedBtCopy", 2);
    if (!idle_) return;
    TransferSelection(Pane(1 - active_pane_)->GetCurrentDir(), true);
}

void COV_USBDlg::TransferSelection(const std::string& target_folder, bool disable_window) {
    const int s = active_pane_, t = 1 - s;
    CFunctionMgr& manager = *COvSession::Get().Manager(s);
    CDirList files = Pane(s)->GetSelectedEntries();
    manager.ResetLists();
    manager.verify_copies = settings::VerifyCopies();
    CheckOverwriteFiles(manager, &files, Pane(s)->GetCurrentDir(), target_folder,
                        &AskOverwriteInWindow, this);
    if (close_after_transfer_) return;  // the window was closed while the question was open
    if (files.IsEmpty()) return ShowSummary(manager);
    if (!ConfirmTransferSpace(this, manager, &files, Pane(s)->GetCurrentDir(), target_folder) ||
        close_after_transfer_)
        return;
    idle_ = false;
    AddPathHistory(CPreferences::Get().Section(s), Pane(s)->GetCurrentDir());
    AddPathHistory(CPreferences::Get().Section(t), Pane(t)->GetCurrentDir());
    RunTransfer(s, target_folder, &files, disable_window);
}

void COV_USBDlg::RunTransfer(int s, const std::string& target_folder, CDirList* files,
                             bool disable_window) {
    const int t = 1 - s;
    CFunctionMgr& manager = *COvSession::Get().Manager(s);
    CFileProgress& progress = CFileProgress::Get();
    {
        // The system does not sleep while the copy runs.
        platform::SleepInhibitor no_sleep("Copying files to or from the receiver");
        progress.Create(this);
        if (disable_window) Disable();
        manager.progress = &CFileProgress::ProgressCallback;
        manager.progress_context = &progress;
        SetTransferBufferSize(transfer_buffer_size_);
        transferring_ = true;
        // Re-entrancy: the progress steps handle this window's events while the copy runs;
        // `transferring_` and the cleared idle flag keep every command out meanwhile.
        manager.CopyFiles(files, Pane(s)->GetCurrentDir(), target_folder);
        transferring_ = false;
        if (disable_window) Enable();
        progress.DestroyWindow();
    }
    Pane(t)->RefreshList();
    // A receiver that went away during the copy emptied its pane; the engine brought it back.
    if (s == 1 && receiver_rows_dropped_ && DeviceConnected) Pane(1)->RefreshList();
    receiver_rows_dropped_ = false;
    idle_ = true;
    SetDriveInfo(s, "");
    SetDriveInfo(t, "");
    AfterTransfer();
    // A quit request ends the program once the copy has unwound: no summary waits for an
    // answer first.
    const bool quitting = close_after_transfer_ || progress.QuitRequested();
    if (progress.ShutDownRequested()) {
        COvSession::Get().DoSystemShutdown();
    } else if (!quitting) {
        ShowTransferFailures(this, manager);
        ShowSummary(manager);
    }
    if (quitting && IsModal()) EndModal(wxID_CANCEL);
}

void COV_USBDlg::AfterTransfer() {
    // Device changes during the copy were left to the engine; catch up with where the
    // receiver is now.
    if (lifecycle_ != nullptr && !DeviceConnected) OnDeviceChange();
}

void COV_USBDlg::ShowSummary(CFunctionMgr& manager) {
    ShowTransferSummary(this, manager);
}

void COV_USBDlg::OnBnClickedBtRename() {
    LogScope scope("COV_USBDlg::OnBnClickedBtRename", 2);
    AddPathHistory(CPreferences::Get().Section(active_pane_), Pane(active_pane_)->GetCurrentDir());
    Pane(active_pane_)->SetFocus();
    Pane(active_pane_)->OnFileRename();
}

void COV_USBDlg::OnBnClickedBtDelete() {
    LogScope scope("COV_USBDlg::OnBnClickedBtDelete", 2);
    // Not while a copy runs: the selection is what is being copied.
    if (!idle_) return;
    AddPathHistory(CPreferences::Get().Section(active_pane_), Pane(active_pane_)->GetCurrentDir());
    Pane(active_pane_)->DeleteFiles2(1);
    SetDriveInfo(active_pane_, "");
}

void COV_USBDlg::OnBnClickedBtCreateDir() {
    LogScope scope("COV_USBDlg::OnBnClickedBtCreateDir", 2);
    if (!idle_) return;
    if (active_pane_ == 1)
        Pane(1)->InsertOVNewDir();
    else
        Pane(0)->InsertNewDir();
}

void COV_USBDlg::OnBnClickedBtSettings() {
    LogScope scope("COV_USBDlg::OnBnClickedBtSettings", 2);
    CDlgSettings dialog(this);
    if (dialog.ShowModal() == wxID_OK) transfer_buffer_size_ = settings::BufferSize();
}

void COV_USBDlg::OnBnClickedBtAbout() {
    LogScope scope("COV_USBDlg::OnBnClickedBtAbout", 2);
    CAboutDlg about(this, false);
    about.ShowModal();
}

void COV_USBDlg::OnRefresh() {
    if (!idle_) return;
    Pane(0)->RefreshList();
    Pane(1)->RefreshList();
    SetDriveInfo(1, "C:\\");
    SetDriveInfo(0, "");
}

void COV_USBDlg::SelectAllFiles() {
    CDirListCtrl* pane = Pane(active_pane_);
    for (long row = 0; row < pane->GetItemCount(); ++row) {
        const auto* entry = reinterpret_cast<const CDirEntry*>(pane->GetItemData(row));
        const bool file = entry != nullptr && entry->isFile;
        pane->SetItemState(row, file ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
    }
}

void COV_USBDlg::OnSearchChanged() {
    const std::string filter = search_->GetValue().utf8_string();
    Pane(0)->FillList(filter);
    Pane(1)->FillList(filter);
}

void COV_USBDlg::OnDriveSelected() {
    if (!idle_) return;
    const int chosen = drives_->GetSelection();
    if (chosen < 0 || chosen >= static_cast<int>(drive_points_.size())) return;
    const std::string volume = drive_points_[chosen];
    // The folder the pane leaves is remembered for its volume, as Windows keeps a current
    // folder per drive.
    const std::string leaving = Pane(0)->GetCurrentDir();
    const std::string left_volume = platform::VolumeOf(leaving);
    bool known_volume = false;
    for (auto& [known, last] : folder_per_volume_) {
        if (known == left_volume) {
            last = leaving;
            known_volume = true;
        }
    }
    if (!known_volume) folder_per_volume_.emplace_back(left_volume, leaving);
    // The folder last shown on that volume, else its mount point.
    std::string folder = volume;
    for (const auto& [known, last] : folder_per_volume_)
        if (known == volume) folder = last;
    if (!platform::CanEnterFolder(folder)) folder = volume;
    if (!platform::CanEnterFolder(folder)) {
        wxBell();
        return;
    }
    SetDriveInfo(0, volume);
    Pane(0)->SetCurrentDir(folder);
    Pane(0)->AddDirList();
    Pane(0)->RefreshPathHistory();
    paths_[0]->SetValue(WindowText(folder));
}

void COV_USBDlg::OnPathSelected(int side) {
    if (!idle_) return;
    // The folder as stored in the history, found by the text the box shows for it: the shown
    // text need not be the name's bytes, and the box may lag behind the history's order.
    const wxString shown = paths_[side]->GetStringSelection();
    std::string folder;
    for (const std::string& stored : GetPathHistory(CPreferences::Get().Section(side)))
        if (WindowText(stored) == shown) {
            folder = stored;
            break;
        }
    if (folder.empty()) return;
    Pane(side)->SetCurrentDir(folder);
    AddPathHistory(CPreferences::Get().Section(side), folder);
    Pane(side)->RefreshPathHistory();
    Pane(side)->RefreshList();
    Pane(side)->SetSelectedInfo();
    if (side == 0) {
        SetDriveInfo(0, platform::VolumeOf(folder));
        SelectDriveOf(folder);
    }
    Pane(side)->SetFocus();
    history_position_[side] = 0;
    newer_[side]->Enable(false);
}

void COV_USBDlg::ShowHistoryEntry(int side) {
    const int p = history_position_[side];
    const std::vector<std::string> history = GetPathHistory(CPreferences::Get().Section(side));
    if (p < 0 || p >= static_cast<int>(history.size())) return;
    const std::string folder = history[p];
    paths_[side]->SetValue(WindowText(folder));
    Pane(side)->SetCurrentDir(folder);
    Pane(side)->RefreshList();
    Pane(side)->SetSelectedInfo();
    if (side == 0) {
        SetDriveInfo(0, platform::VolumeOf(folder));
        SelectDriveOf(folder);
    }
    Pane(side)->SetFocus();
}

void COV_USBDlg::OnBnClickedBtPrev(int side) {
    if (!idle_) return;
    const int n = static_cast<int>(GetPathHistory(CPreferences::Get().Section(side)).size());
    if (n == 0) {
        older_[side]->Enable(false);
        return;
    }
    int& p = history_position_[side];
    ++p;
    if (p >= n - 1) {
        p = n - 1;
        older_[side]->Enable(false);
    } else {
        older_[side]->Enable(true);
    }
    newer_[side]->Enable(true);
    ShowHistoryEntry(side);
}

void COV_USBDlg::OnBnClickedBtNext(int side) {
    LogScope scope("COV_USBDlg::OnBnClickedBtNext", 3);
    if (!idle_) return;
    const int n = static_cast<int>(GetPathHistory(CPreferences::Get().Section(side)).size());
    if (n == 0) {
        newer_[side]->Enable(false);
        return;
    }
    int& p = history_position_[side];
    const int old = p;
    --p;
    if (old <= 1) {
        p = 0;
        newer_[side]->Enable(false);
    } else {
        newer_[side]->Enable(true);
    }
    older_[side]->Enable(true);
    ShowHistoryEntry(side);
}
