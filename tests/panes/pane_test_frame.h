// A window holding the two panes as the main window does: a path box over each, the status
// bar below, F2 / Ctrl+F2 / F7 for the pane with the focus, and the host's idle flag.
#pragma once

#include <wx/combobox.h>
#include <wx/frame.h>

#include <vector>

#include "controls/vista_bar.h"
#include "panes/windows/dir_list_ctrl.h"
#include "panes/windows/pane_host.h"

class PaneTestFrame : public wxFrame, public PaneHost {
  public:
    PaneTestFrame();
    // The panes outlive this part of the window: they must not ask it anything then.
    ~PaneTestFrame() override;

    bool IsIdle() const override { return idle; }
    void OnHistoryChanged(int side) override { ++history_changes[side]; }

    // A new pane of `side` in place of the old one, set up as the main window sets it up.
    void MakePane(int side);
    // The pane with the keyboard focus, or the PC pane.
    CDirListCtrl* Active() const;

    CDirListCtrl* panes[2] = {nullptr, nullptr};
    wxComboBox* path_boxes[2] = {nullptr, nullptr};
    CVistaBar* bar = nullptr;
    bool idle = true;
    int history_changes[2] = {0, 0};
    // The menu commands that came up from a pane.
    std::vector<int> commands;
};
