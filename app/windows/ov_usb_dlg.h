// The main window: the PC pane on the left, the receiver pane on the right, the command
// column between them, each pane with its path row above and its free-space pie and
// information bar below. It owns the hold on the receiver (connect at start, plugged in,
// pulled out) and turns buttons, keys and drags into the engine's calls.
#pragma once

#include <wx/dialog.h>
#include <wx/dragimag.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "panes/dir_entry.h"
#include "panes/windows/pane_host.h"
#include "transfer/receiver_lifecycle.h"

class CDirListCtrl;
class wxEventLoopBase;
class CFunctionMgr;
class CIconEdit;
class CPieProgress;
class CSXButton;
class CVistaBar;
class wxCheckBox;
class wxChoice;
class wxComboBox;
class wxStaticText;

namespace emulator {
class EmulatedReceiver;
}

class COV_USBDlg : public wxDialog, public PaneHost {
  public:
    // `lifecycle` is the hold on the chosen receiver, or null when none is chosen (the
    // receiver pane then stays empty). `emulated`, when the receiver is the emulated one,
    // lets Ctrl+U pull its plug and put it back.
    COV_USBDlg(wxWindow* parent, ReceiverLifecycle* lifecycle,
               emulator::EmulatedReceiver* emulated = nullptr);
    ~COV_USBDlg() override;

    // PaneHost
    bool IsIdle() const override { return idle_; }
    void OnHistoryChanged(int side) override;

    CDirListCtrl* Pane(int side) const { return panes_[side == 0 ? 0 : 1]; }
    int ActivePane() const { return active_pane_; }
    CVistaBar* InfoBar(int side) const { return bars_[side == 0 ? 0 : 1]; }
    CPieProgress* Pie(int side) const { return pies_[side == 0 ? 0 : 1]; }
    int32_t TransferBufferSize() const { return transfer_buffer_size_; }
    bool Dragging() const { return dragging_; }

    // A change of the USB devices, as the backends report it.
    void OnDeviceChange();
    void SetDriveInfo(int side, std::string drive);
    void ResizeControls();

    // The commands, as the buttons, keys and menus run them.
    void OnBnClickedBtCopy();
    void OnBnClickedBtRename();
    void OnBnClickedBtDelete();
    void OnBnClickedBtCreateDir();
    void OnBnClickedBtSettings();
    void OnBnClickedBtAbout();
    void OnBnClickedBtPrev(int side);
    void OnBnClickedBtNext(int side);
    void OnRefresh();
    void SelectAllFiles();

  private:
    void CreateControls();
    void SetUpLeftSide();
    void SetUpRightSide();
    void FillDriveChooser();
    void SelectDriveOf(const std::string& folder);
    void BindEvents();
    void OnSetfocusList(int side);
    void OnPathSelected(int side);
    void OnDriveSelected();
    void OnSearchChanged();
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnMoveOrSize();
    void UpdateButtons();
    void ShowHistoryEntry(int side);
    void TogglePlug();

    // Copies `files` from side `source` to `target_folder` of the other side, with the
    // progress dialog; the overwrite check ran already.
    // The selection of the active pane into `target_folder` of the other: the overwrite
    // question, the space check, then the copy.
    void TransferSelection(const std::string& target_folder, bool disable_window);
    void RunTransfer(int source, const std::string& target_folder, CDirList* files,
                     bool disable_window);
    void ShowSummary(CFunctionMgr& manager);
    void AfterTransfer();

    // Drag and drop between and within the panes.
    void OnBegindragList(int side);
    void OnDragMotion(wxMouseEvent& event);
    // Ends a drag that is under way: the image, the mouse capture (unless it was lost
    // already) and the cursor go.
    void EndDragging(bool capture_lost);
    // Whether a modal window other than this one is open (a question, a settings dialog).
    bool OtherModalOpen() const;
    // Ends the window when a close came while something else was running, once it is over.
    void EndPendingClose();
    void OnLButtonUp(wxMouseEvent& event);
    bool DropTargetCheck(wxWindow* window, const wxPoint& screen_point);
    void DropOnOwnPane(const wxPoint& screen_point);
    void DropOnOtherPane(const wxPoint& screen_point);

    ReceiverLifecycle* lifecycle_;
    emulator::EmulatedReceiver* emulated_;
    std::array<wxComboBox*, 2> paths_{};
    std::array<CDirListCtrl*, 2> panes_{};
    std::array<CPieProgress*, 2> pies_{};
    std::array<CVistaBar*, 2> bars_{};
    std::array<CSXButton*, 2> older_{};
    std::array<CSXButton*, 2> newer_{};
    CSXButton* transfer_ = nullptr;
    CSXButton* rename_ = nullptr;
    CSXButton* delete_ = nullptr;
    CSXButton* create_dir_ = nullptr;
    CSXButton* settings_ = nullptr;
    CSXButton* about_ = nullptr;
    CIconEdit* search_ = nullptr;
    wxCheckBox* verify_ = nullptr;  // the setting VerifyCopies, saved at every click
    wxChoice* drives_ = nullptr;
    std::vector<std::string> drive_points_;  // mount point of each drive chooser entry
    wxStaticText* pvr_label_ = nullptr;
    wxWindow* separator_ = nullptr;

    int active_pane_ = 1;
    bool idle_ = true;
    bool dragging_ = false;
    // The receiver's rows were dropped by a pull-out while a transfer ran.
    bool receiver_rows_dropped_ = false;
    wxEventLoopBase* own_loop_ = nullptr;  // the loop of ShowModal, once seen
    bool drop_on_own_pane_ = false;
    bool set_up_done_ = false;
    bool transferring_ = false;
    bool close_after_transfer_ = false;
    std::array<int, 2> history_position_{};
    int32_t transfer_buffer_size_;
    std::unique_ptr<wxDragImage> drag_image_;
    // The last folder shown on each PC volume, as Windows keeps a current folder per drive.
    std::vector<std::pair<std::string, std::string>> folder_per_volume_;
};
