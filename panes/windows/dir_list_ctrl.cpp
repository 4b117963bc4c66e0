// The pane's listing and navigation: columns, fill, folders entered and left, the selection's
// summary and gathering, the drop target while dragging, and the column widths kept.
#include "panes/windows/dir_list_ctrl.h"

#include <wx/clipbrd.h>
#include <wx/combobox.h>
#include <wx/settings.h>
#include <wx/utils.h>

#include <algorithm>

#include "app/log.h"
#include "app/preferences.h"
#include "app/string_table.h"
#include "controls/vista_bar.h"
#include "controls/window_text.h"
#include "panes/entry_text.h"
#include "panes/receiver_path_rules.h"
#include "panes/selection_summary.h"
#include "panes/windows/file_type_icons.h"
#include "panes/windows/pane_host.h"
#include "panes/windows/pane_state.h"
#include "platform/profile_store.h"
#include "platform/shell_open.h"
#include "platform/text.h"
#include "pvrdisk/pcfm.h"
#include "transfer/function_mgr.h"
#include "transfer/gathering.h"
#include "transfer/receiver_names.h"

namespace {

constexpr int kColumnCount = 5;
constexpr int kColumnHeaders[kColumnCount] = {104, 128, 105, 106, 107};
constexpr int kDefaultColumnWidths[kColumnCount] = {70, 70, 70, 5, 100};
constexpr int kSizeColumn = 2;

std::string ColumnWidthName(int column) {
    return "ColumnWidth " + FormatDec(column);
}

// One folder up on the PC: the last "/" and what follows go; the root stays.
std::string PcFolderUp(const std::string& folder) {
    const size_t last = folder.rfind('/');
    if (last == std::string::npos || last == 0) return "/";
    return folder.substr(0, last);
}

int wxCALLBACK CompareRows(wxIntPtr a, wxIntPtr b, wxIntPtr pane) {
    return CompareEntries(reinterpret_cast<const CDirEntry*>(a),
                          reinterpret_cast<const CDirEntry*>(b),
                          reinterpret_cast<const CDirListCtrl*>(pane)->GetSortState(),
                          SharedPaneState().new_folder_mode);
}

}  // namespace

CDirListCtrl::CDirListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxListCtrl(parent, id, pos, size, wxLC_REPORT | wxLC_EDIT_LABELS) {
    images_ = new wxImageList(kPaneIconSize, kPaneIconSize, true);
    icons_ = AddPaneIcons(*images_);
    file_icons_ = std::make_unique<CFileTypeIcons>(*images_);
    AssignImageList(images_, wxIMAGE_LIST_SMALL);

    Bind(wxEVT_LIST_ITEM_ACTIVATED, &CDirListCtrl::OnDblclk, this);
    Bind(wxEVT_LIST_BEGIN_LABEL_EDIT, &CDirListCtrl::OnBeginlabeledit, this);
    Bind(wxEVT_LIST_END_LABEL_EDIT, &CDirListCtrl::OnEndlabeledit, this);
    Bind(wxEVT_LIST_COL_CLICK, &CDirListCtrl::OnColumnClick, this);
    Bind(wxEVT_LIST_COL_END_DRAG, &CDirListCtrl::OnColumnEndDrag, this);
    Bind(wxEVT_LIST_KEY_DOWN, &CDirListCtrl::OnKeyDown, this);
    Bind(wxEVT_LIST_ITEM_SELECTED, &CDirListCtrl::OnItemChanged, this);
    Bind(wxEVT_LIST_ITEM_DESELECTED, &CDirListCtrl::OnItemChanged, this);
    Bind(wxEVT_CONTEXT_MENU, &CDirListCtrl::OnContextMenu, this);
    // The key's own modifiers: by the time the list tells of the key, the keyboard may have
    // let Shift go already.
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
        shift_with_key_ = event.ShiftDown();
        event.Skip();
    });
    // The commands as the main window may send them, and the context menu's items.
    Bind(wxEVT_MENU, &CDirListCtrl::OnCommand, this, kIdFileDelete, kIdFileEpgRename);
    Bind(wxEVT_MENU, &CDirListCtrl::OnMenuItem, this, MenuItemOf(kIdFileDelete),
         MenuItemOf(kIdFileEpgRename));
    // The begin of a drag is not handled here: the main window drags (wxEVT_LIST_BEGIN_DRAG
    // goes up to it).
}

CDirListCtrl::~CDirListCtrl() {
    LogScope scope("CDirListCtrl::OnDestroy", 3);
    LogLine(Tag(), 3);
    // An open edit ends now, while this pane can still take its end, and is not taken.
    if (GetEditControl() != nullptr) EndEditLabel(true);
    DeleteAllItems();
    if (GetColumnCount() != kColumnCount) return;
    for (int column = 0; column < kColumnCount; ++column) StoreColumnWidth(column);
}

CFunctionMgr& CDirListCtrl::Manager() const {
    return *COvSession::Get().Manager(side_);
}

const std::string& CDirListCtrl::Section() const {
    return CPreferences::Get().Section(side_);
}

bool CDirListCtrl::Idle() const {
    return host_ == nullptr || host_->IsIdle();
}

std::string CDirListCtrl::GetCurrentDir() const {
    return side_ == 1 ? SharedPaneState().receiver_path : current_folder_;
}

std::string CDirListCtrl::PcPathOf(const std::string& name) const {
    return NormalizePcFolderPath(current_folder_ + "/" + name);
}

CDirEntry* CDirListCtrl::RecordAt(long row) const {
    if (row < 0 || row >= GetItemCount()) return nullptr;
    return reinterpret_cast<CDirEntry*>(GetItemData(row));
}

long CDirListCtrl::FirstSelected() const {
    return GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
}

void CDirListCtrl::StoreColumnWidth(int column) {
    platform::Profile().WriteInt(Section(), ColumnWidthName(column), GetColumnWidth(column));
}

void CDirListCtrl::SetHeaderItem() {
    LogScope scope("CDirListCtrl::SetHeaderItem", 3);
    LogLine(Tag(), 3);
    sort_ = LoadSortState(Section());
    for (int column = 0; column < kColumnCount; ++column) {
        int width = platform::Profile().GetInt(Section(), ColumnWidthName(column), 0);
        if (width == 0) width = kDefaultColumnWidths[column];
        InsertColumn(column, WindowText(LoadResString(kColumnHeaders[column])),
                     column == kSizeColumn ? wxLIST_FORMAT_RIGHT : wxLIST_FORMAT_LEFT, width);
    }
}

bool CDirListCtrl::RefreshList() {
    LogScope scope("CDirListCtrl::RefreshList", 3);
    LogLine(Tag(), 3);
    const bool listed = side_ == 1 ? OV_Dir(SharedPaneState().receiver_path) : AddDirList();
    FitColumns();
    return listed;
}

bool CDirListCtrl::OV_Dir(const std::string& path) {
    LogScope scope("CDirListCtrl::OV_Dir", 3);
    LogLine(Tag(), 3);
    const wxCursor working(wxCURSOR_ARROWWAIT);
    wxBusyCursor busy(&working);
    std::string folder = ReceiverFolderOf(path);
    if (!Manager().ReadDir(folder)) {
        LogLine("Error reading PVR drive directory! Reading root instead", 3);
        folder = kReceiverRoot;
        SharedPaneState().receiver_path = folder;
        if (!Manager().ReadDir(folder)) {
            // The read emptied the listing the rows point into.
            RemoveDirListEntries();
            return false;
        }
    }
    SharedPaneState().receiver_path = folder;
    current_folder_ = folder;
    FillList(filter_);
    return true;
}

bool CDirListCtrl::AddDirList() {
    LogScope scope("CDirListCtrl::AddDirList", 3);
    LogLine(Tag(), 3);
    const wxCursor working(wxCURSOR_ARROWWAIT);
    wxBusyCursor busy(&working);
    if (Manager().ReadDir(current_folder_)) {
        FillList(filter_);
        return true;
    }
    LogLine("Error reading Windows drive directory", 3);
    // The read emptied the listing the rows point into.
    RemoveDirListEntries();
    return false;
}

int CDirListCtrl::IconOf(const CDirEntry& entry) {
    int icon = entry.isFile ? file_icons_->IconFor(entry.name) : icons_.folder;
    if (entry.name == "..") icon = icons_.up;
    if (entry.extension == "TP0") icon = icons_.recording;
    if (entry.extension == "RAD") icon = icons_.radio;
    if (entry.name == "JUKEBOX") icon = icons_.jukebox;
    return icon;
}

void CDirListCtrl::FillList(const std::string& filter) {
    filter_ = platform::UpperCase(filter);
    DropRows();
    Freeze();
    for (CDirEntry& entry : Manager().listing) {
        if (entry.name == ".") continue;
        if (!filter_.empty() && entry.isFile &&
            platform::UpperCase(entry.name + entry.epgTitle).find(filter_) == std::string::npos)
            continue;
        const long row =
            InsertItem(GetItemCount(), WindowText(DisplayName(entry.name)), IconOf(entry));
        SetItemPtrData(row, reinterpret_cast<wxUIntPtr>(&entry));
        for (int column = 1; column < kColumnCount; ++column)
            SetItem(row, column, WindowText(ColumnText(entry, column)));
    }
    SortRows();
    Thaw();
    FitColumns();
}

void CDirListCtrl::SortRows() {
    SortItems(CompareRows, reinterpret_cast<wxIntPtr>(this));
}

void CDirListCtrl::SetCurrentDir(const std::string& path) {
    LogScope scope("CDirListCtrl::SetCurrentDir", 3);
    LogLine(Tag(), 3);
    LogLine("New path = " + path, 3);
    if (side_ == 0) {
        current_folder_ = NormalizePcFolderPath(path);
        return;
    }
    std::string folder = ReceiverFolderOf(path);
    if (pcfm_file* directory = pcfm_open(ToBox(folder).c_str(), "d")) {
        pcfm_close(directory);
    } else {
        LogLine("Dir does not exist!", 3);
        folder = kReceiverRoot;
    }
    SharedPaneState().receiver_path = folder;
    current_folder_ = folder;
}

void CDirListCtrl::ShowCurrentDir() {
    if (path_box_ != nullptr) path_box_->SetValue(WindowText(GetCurrentDir()));
}

void CDirListCtrl::RefreshPathHistory() {
    LogScope scope("CDirListCtrl::RefreshPathHistory", 3);
    LogLine(Tag(), 3);
    if (path_box_ != nullptr) {
        path_box_->Clear();
        for (const std::string& folder : GetPathHistory(Section()))
            path_box_->Append(WindowText(folder));
    }
    if (host_ != nullptr) host_->OnHistoryChanged(side_);
    if (path_box_ != nullptr && path_box_->GetCount() > 0) path_box_->SetSelection(0);
}

void CDirListCtrl::RemoveDirListEntries() {
    LogScope scope("CDirListCtrl::RemoveDirListEntries", 3);
    LogLine(Tag(), 3);
    DropRows();
}

void CDirListCtrl::DropRows() {
    // An edit still open belongs to a row that goes now: it ends cancelled, taking nothing.
    ++listing_generation_;
    if (GetEditControl() != nullptr) EndEditLabel(true);
    DeleteAllItems();
    drop_highlight_ = -1;
}

void CDirListCtrl::FitColumns() {
    if (GetColumnCount() != kColumnCount) return;
    int sum = 0;
    for (int column = 0; column < kColumnCount; ++column) sum += GetColumnWidth(column);
    const int first = GetColumnWidth(0);
    const int second = GetColumnWidth(1);
    const int shared = first + second;
    const int free = GetClientSize().x - 2 - (sum - shared);
    // Two columns of no width, or no room left, would give no proportion to keep.
    if (shared <= 0 || free <= 0) return;
    SetColumnWidth(0, static_cast<int>(static_cast<float>(first) / shared * free));
    SetColumnWidth(1, static_cast<int>(static_cast<float>(second) / shared * free));
}

void CDirListCtrl::OnDblclk(wxListEvent& event) {
    LogScope scope("CDirListCtrl::OnDblclk", 3);
    LogLine(Tag(), 3);
    if (!Idle()) return;
    OpenRow(event.GetIndex());
}

void CDirListCtrl::OpenRow(long row) {
    const CDirEntry* entry = RecordAt(row);
    if (entry == nullptr) return;
    // The rows point into the listing a new read replaces: take what is needed first.
    const std::string name = entry->name;
    const bool is_folder = !entry->isFile;
    if (side_ == 0) {
        if (!is_folder) {
            platform::ShellOpen(PcPathOf(name));
            return;
        }
        const std::string previous = current_folder_;
        current_folder_ = name == ".." ? PcFolderUp(current_folder_) : PcPathOf(name);
        ShowCurrentDir();
        // A folder that cannot be read leaves the user where he was, not in an empty pane.
        if (!RefreshList()) {
            current_folder_ = previous;
            ShowCurrentDir();
            RefreshList();
        }
        return;
    }
    // A receiver file is not a folder to enter.
    if (!is_folder) return;
    std::string& receiver_path = SharedPaneState().receiver_path;
    receiver_path =
        name == ".." ? ReceiverFolderUp(receiver_path) : ReceiverFolderInto(receiver_path, name);
    OV_Dir(receiver_path);
    ShowCurrentDir();
}

void CDirListCtrl::OnItemChanged(wxListEvent&) {
    if (SharedPaneState().new_folder_mode || summary_pending_) return;
    // One summary for a burst of changes (a range selected at once).
    summary_pending_ = true;
    CallAfter([this] {
        summary_pending_ = false;
        if (!SharedPaneState().new_folder_mode) SetSelectedInfo();
    });
}

void CDirListCtrl::SetSelectedInfo() {
    LogScope scope("CDirListCtrl::SetSelectedInfo", 3);
    LogLine(Tag(), 3);
    PaneState& state = SharedPaneState();
    unsigned count = 0;
    uint64_t total_kib = 0;
    const CDirEntry* first_file = nullptr;
    for (long row = FirstSelected(); row >= 0;
         row = GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) {
        ++count;
        const CDirEntry* entry = RecordAt(row);
        if (entry == nullptr) continue;
        scratch_name_ = entry->name;
        if (state.last_selected_name != entry->name) state.last_selected_name = entry->name;
        if (!entry->isFile) {
            AddPathHistory(Section(), GetCurrentDir());
            RefreshPathHistory();
            continue;
        }
        total_kib += entry->size >> 10;
        if (first_file == nullptr) first_file = entry;
    }
    std::string text = SelectionSummary(count, total_kib);
    if (count == 1 && first_file != nullptr &&
        (first_file->name.find(".TP0") != std::string::npos ||
         first_file->name.find(".tp0") != std::string::npos)) {
        text += first_file->epgTitle;
        // An empty title would only wipe what the user has on the clipboard.
        if (!first_file->epgTitle.empty() && wxTheClipboard->Open()) {
            wxTheClipboard->SetData(new wxTextDataObject(WindowText(first_file->epgTitle)));
            wxTheClipboard->Close();
        }
    }
    if (status_bar_ != nullptr) status_bar_->SetSecondText(WindowText(text));
}

const CDirList& CDirListCtrl::GetSelectedEntries() {
    LogScope scope("CDirListCtrl::GetSelectedEntries", 3);
    LogLine(Tag(), 3);
    CDirList selected;
    for (long row = FirstSelected(); row >= 0;
         row = GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) {
        const CDirEntry* entry = RecordAt(row);
        if (entry != nullptr && entry->name != "..") selected.Add(*entry);
    }
    gather_problems_.clear();
    SharedPaneState().gathered = GatherSelection(selected, side_ == 1, &gather_problems_);
    for (const GatherProblem& problem : gather_problems_)
        LogLine("Not taken: " + problem.path + ": " + problem.reason, 3);
    return SharedPaneState().gathered;
}

void CDirListCtrl::SetDropHighlightShown(long row, bool shown) {
    if (row < 0 || row >= GetItemCount()) return;
    // The list keeps a colour once given (an unset colour is not taken), so the plain colours
    // are given back.
    SetItemBackgroundColour(
        row, shown ? wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT) : GetBackgroundColour());
    SetItemTextColour(row, shown ? wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHTTEXT)
                                 : GetForegroundColour());
    RefreshItem(row);
}

long CDirListCtrl::RowAt(const wxPoint& client_point) const {
    // The rows' rectangles are in the same coordinates as the point, header included (the
    // list's own hit test counts from below the header).
    const long last = std::min<long>(GetItemCount(), GetTopItem() + GetCountPerPage() + 1);
    for (long row = GetTopItem(); row < last; ++row) {
        wxRect rect;
        if (GetItemRect(row, rect) && rect.Contains(client_point)) return row;
    }
    return -1;
}

bool CDirListCtrl::HighlightDropTarget(const wxPoint& screen_point, bool leaving) {
    const long row = RowAt(ScreenToClient(screen_point));
    const CDirEntry* entry = RecordAt(row);
    if (entry == nullptr || entry->isFile) {
        SetDropHighlightShown(drop_highlight_, false);
        drop_highlight_ = -1;
        return false;
    }
    if (row != drop_highlight_) {
        SetDropHighlightShown(drop_highlight_, false);
        SetDropHighlightShown(row, true);
        Update();
    }
    // Leaving the pane takes the highlight away with it.
    if (leaving) SetDropHighlightShown(row, false);
    drop_highlight_ = leaving ? -1 : row;
    return true;
}

void CDirListCtrl::EndDropHighlight() {
    if (drop_highlight_ < 0) return;
    if (RecordAt(drop_highlight_) != nullptr) {
        if (side_ == 1) current_folder_ = SharedPaneState().receiver_path;
        SetDropHighlightShown(drop_highlight_, false);
    }
    drop_highlight_ = -1;
}

void CDirListCtrl::OnColumnClick(wxListEvent& event) {
    sort_ = ClickColumn(Section(), sort_, event.GetColumn());
    SortRows();
}

void CDirListCtrl::OnColumnEndDrag(wxListEvent& event) {
    const int column = event.GetColumn();
    if (column < 0) return;
    // The header gives the column its new width after telling of the drag's end.
    CallAfter([this, column] { StoreColumnWidth(column); });
}
