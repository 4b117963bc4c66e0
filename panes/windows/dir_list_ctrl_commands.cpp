// The pane's own commands: rename in place, new folder, delete, rename of recordings after
// their programme title, the context menu and the keys.
#include <wx/menu.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <cstdio>
#include <vector>

#include "app/log.h"
#include "app/preferences.h"
#include "app/string_table.h"
#include "controls/message_box_dialog.h"
#include "controls/window_text.h"
#include "panes/entry_text.h"
#include "panes/windows/dir_list_ctrl.h"
#include "panes/windows/pane_state.h"
#include "platform/pc_files.h"
#include "platform/text.h"
#include "platform/trash.h"
#include "transfer/function_mgr.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_operations.h"

namespace {

constexpr int kStrDeleteQuestion = 102;
constexpr int kStrAttention = 117;
constexpr int kStrNewFolder = 129;
constexpr int kStrFolderFailed = 130;
constexpr int kStrRenameFailed = 131;
constexpr int kStrDeleteFailed = 133;
constexpr int kStrDeletedForGood = 9101;
// The system's button set "Yes" and "No".
constexpr uint32_t kYesNoButtons = 0x4;
// Names are examined in a buffer of this size; a longer one is refused.
constexpr size_t kMaxNewNameBytes = 256;

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The keyboard's state as the pointer's query reports it (a key query may not see keys
// pressed through the X test extension).
bool ShiftHeldDown() {
    return wxGetMouseState().ShiftDown();
}

void SayFailure(wxWindow* parent, int text) {
    ShowMessageBox(parent, LoadResString(text), LoadResString(kStrAttention),
                   message_box::kIconStop);
}

}  // namespace

void CDirListCtrl::OnFileRename() {
    LogScope scope("CDirListCtrl::OnFileRename", 3);
    LogLine(Tag(), 3);
    if (GetSelectedItemCount() != 1) return;
    const long row = FirstSelected();
    const CDirEntry* entry = RecordAt(row);
    if (entry == nullptr) return;
    // A name shown shortened at "&&" is edited in full.
    SetItemText(row, WindowText(entry->name));
    EditLabel(row);
}

void CDirListCtrl::OnBeginlabeledit(wxListEvent& event) {
    PaneState& state = SharedPaneState();
    edit_generation_ = listing_generation_;
    const long row = event.GetIndex();
    const CDirEntry* entry = RecordAt(row);
    if (entry == nullptr) return;  // the row of a new folder
    if (state.last_selected_name == ".." || entry->name == "..") {
        event.Veto();
        state.label_edit = false;
        return;
    }
    SetItemText(row, WindowText(entry->name));
    state.label_edit = true;
}

void CDirListCtrl::InsertNewDir() {
    LogScope scope("CDirListCtrl::InsertNewDir", 3);
    LogLine(Tag(), 3);
    PaneState& state = SharedPaneState();
    if (state.new_folder_mode) return;  // one new folder at a time
    state.new_folder_mode = true;
    const long count = GetItemCount();
    SetFocus();
    const long row = InsertItem(count, WindowText(LoadResString(kStrNewFolder)), icons_.folder);
    SetItemPtrData(row, 0);
    RefreshItems(0, row);
    if (wxTextCtrl* edit = EditLabel(row)) {
        edit->Enable();
        return;
    }
    state.new_folder_mode = false;
    DeleteItem(row);
}

void CDirListCtrl::InsertOVNewDir() {
    LogScope scope("CDirListCtrl::InsertOVNewDir", 3);
    LogLine(Tag(), 3);
    InsertNewDir();
}

void CDirListCtrl::OnEndlabeledit(wxListEvent& event) {
    LogScope scope("CDirListCtrl::OnEndlabeledit", 3);
    LogLine(Tag(), 3);
    PaneState& state = SharedPaneState();
    // An edit still open when the window goes ends unasked: nothing of it is taken.
    if (IsBeingDeleted()) {
        state.label_edit = false;
        state.new_folder_mode = false;
        event.Veto();
        return;
    }
    // The rows were filled anew while the edit was open: its row and record are gone, and
    // the name typed belongs to no entry of the new rows.
    if (edit_generation_ != listing_generation_) {
        state.label_edit = false;
        state.new_folder_mode = false;
        event.Veto();
        return;
    }
    const long row = event.GetIndex();
    CDirEntry* entry = RecordAt(row);
    if (event.IsEditCancelled()) {
        state.label_edit = false;
        if (state.new_folder_mode) {
            CallAfter(&CDirListCtrl::EndNewFolderWithoutName);
        } else if (entry != nullptr) {
            SetItemText(row, WindowText(DisplayName(entry->name)));
        }
        return;
    }
    // The pane sets the row's text itself once the name is taken; the platform keeps the old.
    event.Veto();
    if (!Idle()) {
        // Nothing is renamed while a transfer runs, so the row must not say otherwise: its text
        // is put back once the platform's edit control has finished with it.
        state.label_edit = false;
        if (state.new_folder_mode) {
            CallAfter(&CDirListCtrl::EndNewFolderWithoutName);
        } else if (entry != nullptr) {
            CallAfter([this, row, shown = WindowText(DisplayName(entry->name))] {
                if (row < GetItemCount()) SetItemText(row, shown);
            });
        }
        return;
    }
    if (entry == nullptr && !state.new_folder_mode) return;
    // The rest waits until the platform's edit control is gone: it may re-list the rows and
    // show message boxes.
    CallAfter([this, row, entry, generation = listing_generation_,
               name = Trimmed(event.GetLabel().utf8_string())] {
        if (generation == listing_generation_) return FinishEdit(row, entry, name);
        PaneState& later = SharedPaneState();
        later.label_edit = false;
        later.new_folder_mode = false;
    });
}

void CDirListCtrl::FinishEdit(long row, CDirEntry* entry, std::string name) {
    PaneState& state = SharedPaneState();
    if (name.empty()) {
        state.new_folder_mode = false;
        state.label_edit = false;
        RefreshList();
        return;
    }
    if (state.new_folder_mode) {
        MakeNewFolder(name);
    } else if (entry != nullptr && RecordAt(row) == entry) {
        // The name as the edit showed it, unchanged, renames nothing: a name that is no UTF-8
        // keeps its bytes. The row shows its display name again.
        if (name != WindowText(entry->name).utf8_string())
            RenameEntry(row, *entry, name);
        else
            SetItemText(row, WindowText(DisplayName(entry->name)));
    }
    state.label_edit = false;
}

void CDirListCtrl::EndNewFolderWithoutName() {
    PaneState& state = SharedPaneState();
    if (!state.new_folder_mode) return;
    state.new_folder_mode = false;
    for (long row = GetItemCount(); row-- > 0;)
        if (RecordAt(row) == nullptr) DeleteItem(row);
}

void CDirListCtrl::MakeNewFolder(const std::string& name) {
    PaneState& state = SharedPaneState();
    // The mode ends before the re-list, so that the new rows are sorted.
    state.new_folder_mode = false;
    if (side_ == 0) {
        std::string clean = name;
        MakePcFileName(clean);
        const std::string path = PcPathOf(clean);
        platform::PcFileInfo existing;
        std::string error;
        const bool made = clean.size() < kMaxNewNameBytes &&
                          !platform::InspectPcPath(path, &existing) &&
                          platform::MakePcFolder(path, &error);
        if (!made) {
            LogLine("Cannot make " + path + " " + error, 3);
            SayFailure(this, kStrFolderFailed);
        }
        RefreshList();
        return;
    }
    std::string error;
    const std::string folder = name.size() < kMaxNewNameBytes
                                   ? MakeReceiverFolder(state.receiver_path, name, &error)
                                   : std::string();
    if (folder.empty()) {
        LogLine(error, 3);
        ShowMessageBox(this, LoadResString(kStrFolderFailed), "", 0);
    } else {
        state.receiver_path = folder;
        SetCurrentDir(folder);
        AddPathHistory(Section(), state.receiver_path);
        RefreshPathHistory();
    }
    OV_Dir(state.receiver_path);
    ShowCurrentDir();
}

bool CDirListCtrl::RenameEntry(long row, CDirEntry& entry, const std::string& name) {
    PaneState& state = SharedPaneState();
    std::string stored = name;
    bool renamed = false;
    if (side_ == 1) {
        const bool allowed = name[0] != ' ' && name[0] != '.' && name.size() < kMaxNewNameBytes;
        renamed = allowed && Manager().RenameFile(entry, name);
        // The receiver's rules make the name it is stored under.
        MakeBoxFileName(stored);
        AddPathHistory(Section(), state.receiver_path);
        RefreshPathHistory();
    } else {
        MakePcFileName(stored);
        renamed = Manager().RenameFile(entry, stored);
    }
    if (!renamed) {
        if (!Manager().failure.empty()) LogLine(Manager().failure, 3);
        SetItemText(row, WindowText(DisplayName(entry.name)));
        SayFailure(this, kStrRenameFailed);
        return false;
    }
    entry.name = stored;
    if (side_ == 1) {
        entry.fullPath = CollapseBackslashes(entry.folderPath + "\\" + stored);
        if (entry.isFile) {
            const size_t dot = stored.rfind('.');
            entry.title = dot == std::string::npos ? stored : stored.substr(0, dot);
            entry.extension =
                dot == std::string::npos ? "" : platform::UpperCase(stored.substr(dot + 1));
        }
    } else {
        entry.fullPath = CollapseSlashes(entry.folderPath + "/" + stored);
        SplitPcName(stored, &entry.title, &entry.extension);
    }
    SetItemText(row, WindowText(DisplayName(stored)));
    SetItem(row, 3, WindowText(ColumnText(entry, 3)));
    return true;
}

void CDirListCtrl::OnFileDelete() {
    if (GetSelectedItemCount() == 0) return;
    LogScope scope("CDirListCtrl::OnFileDelete", 3);
    LogLine(Tag(), 3);
    DeleteFiles2(ShiftHeldDown());
    SetFocus();
    CallAfter([this] { SetFocus(); });
}

void CDirListCtrl::DeleteFiles2(bool permanent) {
    LogScope scope("CDirListCtrl::DeleteFiles2", 3);
    LogLine(Tag(), 3);
    // Not while a copy runs: the selection is what is being copied.
    if (!Idle()) return;
    const long mark = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED);
    if (GetSelectedItemCount() == 0) return;
    if (side_ == 1) {
        if (ShowMessageBox(this, LoadResString(kStrDeleteQuestion), "",
                           kYesNoButtons | message_box::kIconQuestion) == message_box::kIdYes) {
            CDirList entries = GetSelectedEntries();
            // Nothing is deleted of a selection that cannot be taken whole.
            if (!gather_problems_.empty()) {
                char text[1024];
                std::snprintf(text, sizeof text, LoadResString(kStrDeleteFailed).c_str(),
                              gather_problems_.front().path.c_str());
                ShowMessageBox(this, text, LoadResString(kStrAttention),
                               message_box::kIconExclamation);
            } else if (!Manager().DeleteFiles(&entries)) {
                LogLine(Manager().failure, 3);
            }
            OV_Dir(SharedPaneState().receiver_path);
        }
    } else {
        DeletePcSelection(permanent);
    }
    if (mark >= 0 && mark < GetItemCount()) {
        SetItemState(mark, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                     wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
        EnsureVisible(mark);
    }
}

void CDirListCtrl::DeletePcSelection(bool permanent) {
    std::vector<std::string> paths, names;
    for (long row = FirstSelected(); row >= 0;
         row = GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) {
        const CDirEntry* entry = RecordAt(row);
        if (entry == nullptr) continue;
        if (entry->name == "..") return;  // ".." among the selection deletes nothing
        paths.push_back(PcPathOf(entry->name));
        names.push_back(entry->name);
    }
    if (paths.empty()) return;
    const uint32_t icon = permanent ? message_box::kIconExclamation : message_box::kIconQuestion;
    std::string question = LoadResString(kStrDeleteQuestion);
    if (permanent) question += "\r\n" + LoadResString(kStrDeletedForGood);
    if (ShowMessageBox(this, question, "", kYesNoButtons | icon) != message_box::kIdYes) return;
    for (size_t i = 0; i < paths.size(); ++i) {
        std::string error;
        const bool gone = permanent ? platform::DeleteForGood(paths[i], &error)
                                    : platform::MoveToTrash(paths[i], &error);
        if (gone) continue;
        LogLine(error, 3);
        char text[1024];
        std::snprintf(text, sizeof text, LoadResString(kStrDeleteFailed).c_str(), names[i].c_str());
        ShowMessageBox(this, text, LoadResString(kStrAttention), message_box::kIconExclamation);
        break;
    }
    RefreshList();
}

void CDirListCtrl::RenameToEpgInfo() {
    if (!Idle()) return;  // the selection may be what a running copy reads
    const CDirList& gathered = GetSelectedEntries();
    if (gathered.IsEmpty()) return;
    // Only the recordings that carry their title: those read with the folder, selected
    // directly (the contents of selected folders are gathered without titles).
    CDirList recordings;
    for (const CDirEntry& entry : gathered)
        if (entry.isFile && entry.extension == "TP0" && !Trimmed(entry.epgTitle).empty())
            recordings.Add(entry);
    for (const EpgRenaming& result : EpgRenameRecordings(Manager(), recordings))
        if (result.new_name.empty()) LogLine(result.path + " kept: " + result.reason, 3);
    RefreshList();
}

std::unique_ptr<wxMenu> CDirListCtrl::BuildContextMenu() {
    const int selected = GetSelectedItemCount();
    if (selected == 0) return nullptr;
    auto menu = std::make_unique<wxMenu>();
    menu->Append(MenuItemOf(kIdFileTransfer), "Transfer");
    menu->Append(MenuItemOf(kIdFileDelete), "Delete");
    menu->Append(MenuItemOf(kIdFileRename), "Rename (F2)");
    menu->Append(MenuItemOf(kIdFileEpgRename), "Rename to EPG Info (Ctrl+F2)");
    menu->Enable(MenuItemOf(kIdFileRename), selected == 1);
    return menu;
}

void CDirListCtrl::OnCommand(wxCommandEvent& event) {
    switch (event.GetId()) {
        case kIdFileDelete:
            OnFileDelete();
            break;
        case kIdFileRename:
            OnFileRename();
            break;
        case kIdFileEpgRename:
            RenameToEpgInfo();
            break;
        default:
            event.Skip();  // "Transfer" is the window's
    }
}

void CDirListCtrl::OnMenuItem(wxCommandEvent& event) {
    // The command as the window knows it; what the pane does not handle goes up to it.
    wxCommandEvent command(wxEVT_MENU, event.GetId() + kMenuItemOffset);
    command.SetEventObject(this);
    ProcessWindowEvent(command);
}

void CDirListCtrl::OnContextMenu(wxContextMenuEvent& event) {
    if (!Idle()) return;  // every entry of the menu changes or copies the selection
    std::unique_ptr<wxMenu> menu = BuildContextMenu();
    if (!menu) return;
    wxPoint where = event.GetPosition();
    if (where == wxDefaultPosition) {
        // From the keyboard: at the first selected row.
        wxRect rect;
        GetItemRect(FirstSelected(), rect);
        where = rect.GetPosition();
    } else {
        where = ScreenToClient(where);
    }
    PopupMenu(menu.get(), where);
}

void CDirListCtrl::OnKeyDown(wxListEvent& event) {
    if (!Idle()) return;
    const PaneState& state = SharedPaneState();
    switch (event.GetKeyCode()) {
        case WXK_RETURN:
        case WXK_NUMPAD_ENTER:
            // An open edit ends; otherwise the list itself opens the row (item activated).
            if (state.label_edit || state.new_folder_mode) SetFocus();
            event.Skip();
            return;
        case WXK_INSERT:
            InsertNewDir();
            return;
        case WXK_DELETE:
            if (GetSelectedItemCount() > 0) DeleteFiles2(shift_with_key_);
            return;
        default:
            event.Skip();
    }
}
