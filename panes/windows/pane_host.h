// What a pane asks of the window that holds it (the main window, or a test's frame).
#pragma once

class PaneHost {
  public:
    virtual ~PaneHost() = default;
    // The main window's idle flag: false while a transfer or a move runs; the pane's keys,
    // double-click and end of a label edit do nothing then.
    virtual bool IsIdle() const = 0;
    // The pane's folder history changed; the host updates its older/newer-folder buttons.
    virtual void OnHistoryChanged(int side) = 0;
};
