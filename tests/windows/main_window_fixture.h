// The main window as a user meets it: over the emulated receiver through the real transport,
// a PC folder of its own, driven by mouse and keys on the private X server.
#pragma once

#include <wx/gdicmn.h>
#include <wx/timer.h>

#include <functional>
#include <memory>
#include <string>

#include "app/windows/ov_usb_dlg.h"
#include "tests/transfer/receiver_fixture.h"
#include "transfer/receiver_lifecycle.h"

class CDirListCtrl;
class CMessageBoxDialog;

long RowNamed(CDirListCtrl* pane, const std::string& name);
wxPoint RowPoint(CDirListCtrl* pane, long row);
void ClickRow(CDirListCtrl* pane, long row);
void DoubleClickRow(CDirListCtrl* pane, long row);
// Presses the mouse at `from` (after the double-click time, else the press is a double
// click), moves it as a hand does to `to` in 20 steps (`at_step` runs after each) and lets go.
void DragAndDrop(const wxPoint& from, const wxPoint& to,
                 const std::function<void(int)>& at_step = {});
// Answers every summary box with OK from now on, counting them.
void AnswerSummaries(int* shown);

class MainWindowTest : public ReceiverFixture {
  protected:
    // A receiver disk with C:\Recordings\news.TP0; a PC folder pc/ with clip.ts (3 MiB),
    // notes.txt and Films/inner.ts, which the PC pane shows first.
    void SetUp() override;
    void TearDown() override;

    // Runs the main window; `act` works in it once it is on the screen, then closes it.
    void Run(const std::function<void(COV_USBDlg&)>& act);
    // Answers every message box from now on with the command `choose` picks for it, until
    // `choose` returns 0 (that box is left alone) or none has come for `bound_ms`.
    void AnswerBoxes(std::function<int(CMessageBoxDialog&)> choose, int bound_ms = 45000);
    // Writes a file onto the receiver disk while no window holds it.
    void PutOnReceiver(const std::string& path, const std::string& bytes);

    uint64_t image_bytes_ = 256ull << 20;  // the receiver disk's size, set before SetUp
    std::unique_ptr<ReceiverLifecycle> lifecycle_;
    std::unique_ptr<wxTimer> answering_;
};
