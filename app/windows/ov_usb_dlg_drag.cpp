// Dragging entries between the panes (a copy) and within one pane onto a folder (a move).
#include <wx/defs.h>
#include <wx/dragimag.h>
#include <wx/listctrl.h>
#include <wx/utils.h>

#include "app/log.h"
#include "app/preferences.h"
#include "app/windows/ov_usb_dlg.h"
#include "app/windows/transfer_questions.h"
#include "panes/windows/dir_list_ctrl.h"
#include "transfer/function_mgr.h"
#include "transfer/overwrite_check.h"

namespace {
// The pane `window` belongs to (the list itself or one of its parts), or null.
CDirListCtrl* PaneOf(wxWindow* window) {
    for (; window != nullptr; window = window->GetParent())
        if (auto* pane = dynamic_cast<CDirListCtrl*>(window)) return pane;
    return nullptr;
}

const CDirEntry* RowEntry(CDirListCtrl* pane, const wxPoint& screen_point, long* row_out) {
    const long row = pane->RowAt(pane->ScreenToClient(screen_point));
    if (row_out != nullptr) *row_out = row;
    return row < 0 ? nullptr : pane->RecordAt(row);
}

// The row of the parent folder: by its record, for a folder's display name may be ".." too.
bool IsParentRow(CDirListCtrl* pane, long row) {
    const CDirEntry* entry = pane->RecordAt(row);
    return entry != nullptr && entry->name == "..";
}

// A row of the selection is no target: the selection cannot go into itself.
bool IsSelectedRow(CDirListCtrl* pane, long row) {
    return row >= 0 && pane->GetItemState(row, wxLIST_STATE_SELECTED) != 0;
}

// A folder of the pane's side below `folder`, or its parent for "..".
std::string FolderFor(int side, const std::string& folder, const std::string& name, bool parent) {
    const char separator = side == 1 ? '\\' : '/';
    std::string target = folder;
    if (parent) {
        while (target.size() > 1 && target.back() == separator) target.pop_back();
        const size_t cut = target.rfind(separator);
        target = cut == std::string::npos ? target : target.substr(0, cut + 1);
        if (side == 1 && target.size() < 3) target = "C:\\";
        if (target.empty()) target = "/";
        return side == 1 ? NormalizeFolderPath(target) : NormalizePcFolderPath(target);
    }
    target += separator;
    target += name;
    return side == 1 ? NormalizeFolderPath(target) : NormalizePcFolderPath(target);
}
}  // namespace

void COV_USBDlg::OnBegindragList(int side) {
    LogScope scope(side == 0 ? "COV_USBDlg::OnBegindragList1" : "COV_USBDlg::OnBegindragList2", 3);
    if (side != active_pane_ || !idle_) return;
    CDirListCtrl* pane = Pane(side);
    const int selected = pane->GetSelectedItemCount();
    if (selected == 0) return;
    wxString label =
        selected < 2
            ? pane->GetItemText(pane->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
            : wxString::Format("%d files", selected);
    drag_image_ = std::make_unique<wxDragImage>(label, wxNullCursor);
    const wxPoint hot_spot = selected < 2 ? wxPoint(8, 8) : wxPoint(16, 16);
    const wxPoint at = ScreenToClient(wxGetMousePosition());
    if (!drag_image_->BeginDrag(hot_spot, this, true)) {
        drag_image_.reset();
        return;
    }
    drag_image_->Move(at);
    drag_image_->Show();
    dragging_ = true;
}

void COV_USBDlg::OnDragMotion(wxMouseEvent& event) {
    if (!dragging_ || drag_image_ == nullptr) return event.Skip();
    const wxPoint screen = ClientToScreen(event.GetPosition());
    drag_image_->Move(event.GetPosition() - wxPoint(12, 0));
    drag_image_->Hide();
    const bool target = DropTargetCheck(wxFindWindowAtPoint(screen), screen);
    drag_image_->Show();
    SetCursor(target ? wxCursor(wxCURSOR_ARROW) : wxCursor(wxCURSOR_NO_ENTRY));
}

bool COV_USBDlg::DropTargetCheck(wxWindow* window, const wxPoint& screen_point) {
    CDirListCtrl* pane = PaneOf(window);
    CDirListCtrl* own = Pane(active_pane_);
    CDirListCtrl* other = Pane(1 - active_pane_);
    // A highlight stays only on the pane under the pointer.
    if (pane != own) own->EndDropHighlight();
    if (pane != other) other->EndDropHighlight();
    if (pane == nullptr) return false;
    if (pane == other) {
        // Anywhere over the other pane is a target: a folder row or its current folder.
        drop_on_own_pane_ = false;
        pane->HighlightDropTarget(screen_point, true);
        return true;
    }
    drop_on_own_pane_ = true;
    long row = -1;
    RowEntry(pane, screen_point, &row);
    if (IsSelectedRow(pane, row)) {
        pane->EndDropHighlight();
        return false;
    }
    return pane->HighlightDropTarget(screen_point, false);
}

void COV_USBDlg::EndDragging(bool capture_lost) {
    if (!dragging_) return;
    dragging_ = false;
    drag_image_->Hide();
    // A lost capture is not given back: releasing the mouse there is not allowed.
    if (!capture_lost) drag_image_->EndDrag();
    drag_image_.reset();
    SetCursor(wxNullCursor);
    // A drag ended by a lost capture drops nothing: no highlight stays behind.
    Pane(0)->EndDropHighlight();
    Pane(1)->EndDropHighlight();
}

void COV_USBDlg::OnLButtonUp(wxMouseEvent& event) {
    if (!dragging_) return event.Skip();
    LogScope scope("COV_USBDlg::OnLButtonUp", 2);
    EndDragging(false);
    const wxPoint screen = ClientToScreen(event.GetPosition());
    wxWindow* window = wxFindWindowAtPoint(screen);
    if (!DropTargetCheck(window, screen)) {
        if (active_pane_ == 1) Pane(1)->OV_Dir(Pane(1)->GetCurrentDir());
        Pane(0)->EndDropHighlight();
        Pane(1)->EndDropHighlight();
        return;
    }
    PaneOf(window)->EndDropHighlight();
    if (!idle_) return;
    if (drop_on_own_pane_)
        DropOnOwnPane(screen);
    else
        DropOnOtherPane(screen);
}

void COV_USBDlg::DropOnOwnPane(const wxPoint& screen_point) {
    const int s = active_pane_;
    CDirListCtrl* pane = Pane(s);
    idle_ = false;
    long row = -1;
    const CDirEntry* entry = RowEntry(pane, screen_point, &row);
    const bool parent = IsParentRow(pane, row);
    if (!IsSelectedRow(pane, row) && (parent || (entry != nullptr && !entry->isFile))) {
        const std::string target =
            FolderFor(s, pane->GetCurrentDir(), entry != nullptr ? entry->name : "", parent);
        CFunctionMgr& manager = *COvSession::Get().Manager(s);
        CDirList files = pane->GetSelectedEntries();
        manager.failures.clear();
        CheckMoveTargets(manager, &files, target, &AskOverwriteInWindow, this);
        if (!files.IsEmpty() && !close_after_transfer_) {
            manager.MoveFiles(&files, target);
            pane->RefreshList();
            SetDriveInfo(s, "");
        }
        if (!close_after_transfer_) ShowTransferFailures(this, manager);
    }
    idle_ = true;
    drop_on_own_pane_ = false;
}

void COV_USBDlg::DropOnOtherPane(const wxPoint& screen_point) {
    const int t = 1 - active_pane_;
    CDirListCtrl* target_pane = Pane(t);
    std::string target = target_pane->GetCurrentDir();
    long row = -1;
    const CDirEntry* entry = RowEntry(target_pane, screen_point, &row);
    if (entry != nullptr && !entry->isFile && !IsParentRow(target_pane, row))
        target = FolderFor(t, target, entry->name, false);
    TransferSelection(target, false);
}
