#include "tests/panes/pane_test_frame.h"

#include <wx/accel.h>

namespace {
constexpr int kPaneWidth = 440;
constexpr int kPaneHeight = 400;
constexpr int kBoxHeight = 30;
constexpr int kIdRename = wxID_HIGHEST + 1;
constexpr int kIdEpgRename = wxID_HIGHEST + 2;
constexpr int kIdNewFolder = wxID_HIGHEST + 3;
}  // namespace

PaneTestFrame::PaneTestFrame()
    : wxFrame(nullptr, wxID_ANY, "Panes", wxPoint(0, 0),
              wxSize(2 * kPaneWidth + 20, kPaneHeight + 140)) {
    bar = new CVistaBar(this, wxID_ANY, wxPoint(0, kBoxHeight + kPaneHeight + 4),
                        wxSize(2 * kPaneWidth, 60));
    for (int side = 0; side < 2; ++side) {
        path_boxes[side] = new wxComboBox(this, wxID_ANY, "", wxPoint(side * kPaneWidth, 0),
                                          wxSize(kPaneWidth, kBoxHeight));
        MakePane(side);
    }
    const wxAcceleratorEntry keys[] = {{wxACCEL_NORMAL, WXK_F2, kIdRename},
                                       {wxACCEL_CTRL, WXK_F2, kIdEpgRename},
                                       {wxACCEL_NORMAL, WXK_F7, kIdNewFolder}};
    SetAcceleratorTable(wxAcceleratorTable(3, keys));
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { Active()->OnFileRename(); }, kIdRename);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { Active()->RenameToEpgInfo(); }, kIdEpgRename);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { Active()->InsertOVNewDir(); }, kIdNewFolder);
    Bind(wxEVT_MENU, [this](wxCommandEvent& event) {
        commands.push_back(event.GetId());
        event.Skip();
    });
}

PaneTestFrame::~PaneTestFrame() {
    for (CDirListCtrl* pane : panes)
        if (pane != nullptr) pane->SetHost(nullptr);
}

void PaneTestFrame::MakePane(int side) {
    delete panes[side];
    auto* pane = new CDirListCtrl(this, wxID_ANY, wxPoint(side * kPaneWidth, kBoxHeight + 2),
                                  wxSize(kPaneWidth - 4, kPaneHeight));
    pane->SetSide(side);
    pane->SetHost(this);
    pane->SetStatusBar(bar);
    pane->SetPathBox(path_boxes[side]);
    pane->SetHeaderItem();
    panes[side] = pane;
}

CDirListCtrl* PaneTestFrame::Active() const {
    for (wxWindow* focus = FindFocus(); focus != nullptr; focus = focus->GetParent())
        if (focus == panes[1]) return panes[1];
    return panes[0];
}
