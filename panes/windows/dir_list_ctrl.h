// One of the main window's two panes: a report list of a folder of the PC (side 0) or of the
// receiver (side 1). The pane reads nothing itself: its side's manager reads a folder into its
// listing, and every row points at a record of that listing (so the pane must be filled again
// after every read of its side). It also carries out the commands that change files through
// it: rename in place, new folder, delete, and rename of recordings after their title.
#pragma once

#include <wx/listctrl.h>

#include <memory>
#include <string>

#include "panes/dir_entry.h"
#include "panes/entry_sort.h"
#include "panes/windows/pane_icons.h"
#include "transfer/gathering.h"

class CFileTypeIcons;
class CFunctionMgr;
class CVistaBar;
class PaneHost;
class wxComboBox;
class wxMenu;

// The commands of the pane's context menu. "Transfer" is the main window's: the pane lets its
// command event go up to it.
inline constexpr int kIdFileTransfer = 32780;
inline constexpr int kIdFileDelete = 32777;
inline constexpr int kIdFileRename = 32778;
inline constexpr int kIdFileEpgRename = 32789;
// Menu items take ids below 0x7FFF only: an item's id is its command less this, and the pane
// sends the command itself when the item is chosen.
inline constexpr int kMenuItemOffset = 0x4000;
inline constexpr int MenuItemOf(int command) {
    return command - kMenuItemOffset;
}

class CDirListCtrl : public wxListCtrl {
  public:
    CDirListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                 const wxSize& size = wxDefaultSize);
    // Stores the five column widths; the rows go first.
    ~CDirListCtrl() override;

    // Set by the window before SetHeaderItem: 0 the PC pane, 1 the receiver pane.
    void SetSide(int side) { side_ = side == 0 ? 0 : 1; }
    int GetSide() const { return side_; }
    void SetHost(PaneHost* host) { host_ = host; }
    void SetStatusBar(CVistaBar* bar) { status_bar_ = bar; }
    void SetPathBox(wxComboBox* box) { path_box_ = box; }

    // The five columns with their stored widths, and the stored sort state.
    void SetHeaderItem();
    // Reads the pane's folder again and fills; false when it could not be read.
    bool RefreshList();
    // Receiver pane: reads `path` and fills; a folder that cannot be read gives the root,
    // a root that cannot be read false with the rows untouched.
    bool OV_Dir(const std::string& path);
    // PC pane: reads the current folder and fills; false (and no rows) when it cannot be read.
    bool AddDirList();
    // Fills the rows from the side's listing: folders always, files only when their name or
    // programme title holds `filter` (compared in upper case); "." never.
    void FillList(const std::string& filter);
    // The pane's folder, without listing it. On the receiver pane it is made a proper receiver
    // folder, and one that does not exist gives the root.
    void SetCurrentDir(const std::string& path);
    std::string GetCurrentDir() const;
    // Fills the path box from the pane's folder history.
    void RefreshPathHistory();
    // The selection's summary into the status bar's second text.
    void SetSelectedInfo();
    // The selected records ("..") left out, then the contents of the selected folders. The
    // same list every call; valid until the next call.
    const CDirList& GetSelectedEntries();
    // While something is dragged over the pane: a folder row under the screen point is shown as
    // the drop target (true); none is shown over a file or no row (false).
    bool HighlightDropTarget(const wxPoint& screen_point, bool leaving);
    void EndDropHighlight();
    // The row shown as drop target, -1 for none.
    long DropHighlight() const { return drop_highlight_; }
    // Deletes the rows; the records stay.
    void RemoveDirListEntries();
    // Columns 0 and 1 share the width the others leave, in their proportion.
    void FitColumns();

    // Renames the selected row in place (one row only).
    void OnFileRename();
    // A new row "New Folder" to be named; its name makes the folder.
    void InsertNewDir();
    void InsertOVNewDir();
    // Deletes the selection after asking; Shift held down deletes PC entries for good.
    void OnFileDelete();
    // PC entries go to the trash unless `permanent`; receiver entries are always deleted.
    void DeleteFiles2(bool permanent);
    // The selected recordings get their programme title as name ("-01" … "-99" when taken).
    void RenameToEpgInfo();

    // The context menu for the selection, null with no row selected; its items' ids are
    // MenuItemOf(command).
    std::unique_ptr<wxMenu> BuildContextMenu();
    // The row under a point of the client area, -1 for none (the list's own hit test counts
    // from below its header).
    long RowAt(const wxPoint& client_point) const;
    // The record of a row, null for none (the row of a new folder).
    CDirEntry* RecordAt(long row) const;
    const std::string& Filter() const { return filter_; }
    SortState GetSortState() const { return sort_; }

  private:
    CFunctionMgr& Manager() const;
    const std::string& Section() const;
    const char* Tag() const { return side_ == 0 ? "Win HD" : "Pvr HD"; }
    bool Idle() const;
    // The path of an entry of the PC pane's folder.
    std::string PcPathOf(const std::string& name) const;
    void ShowCurrentDir();
    void SortRows();
    long FirstSelected() const;
    int IconOf(const CDirEntry& entry);
    void StoreColumnWidth(int column);
    void SetDropHighlightShown(long row, bool shown);

    void OnDblclk(wxListEvent& event);
    void OpenRow(long row);
    void OnBeginlabeledit(wxListEvent& event);
    void OnEndlabeledit(wxListEvent& event);
    // The rest of an edit's end, once the platform's edit control is gone.
    void FinishEdit(long row, CDirEntry* record, std::string name);
    // Deletes every row; an open edit ends cancelled.
    void DropRows();
    void MakeNewFolder(const std::string& name);
    bool RenameEntry(long row, CDirEntry& record, const std::string& name);
    void EndNewFolderWithoutName();
    void OnColumnClick(wxListEvent& event);
    void OnColumnEndDrag(wxListEvent& event);
    void OnKeyDown(wxListEvent& event);
    void OnItemChanged(wxListEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);
    void DeletePcSelection(bool permanent);
    void OnCommand(wxCommandEvent& event);
    void OnMenuItem(wxCommandEvent& event);

    int side_ = 0;
    long drop_highlight_ = -1;
    // Counts the fillings of the rows; an edit begun under another count has lost its row.
    unsigned listing_generation_ = 0;
    unsigned edit_generation_ = 0;
    std::string filter_;
    CVistaBar* status_bar_ = nullptr;
    wxComboBox* path_box_ = nullptr;
    PaneHost* host_ = nullptr;
    wxImageList* images_ = nullptr;  // owned by the list
    PaneIcons icons_;
    std::unique_ptr<CFileTypeIcons> file_icons_;
    std::string current_folder_;
    std::string scratch_name_;
    SortState sort_;
    bool summary_pending_ = false;
    // Shift was held down with the last key pressed in the pane.
    bool shift_with_key_ = false;
    // What the last gathering could not take.
    GatherProblems gather_problems_;
};
