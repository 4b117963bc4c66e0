// The two panes over a PC folder in a temporary folder and the emulated receiver's disk
// through the real transport, in a frame on the private X server.
#pragma once

#include <string>
#include <vector>

#include "tests/panes/pane_test_frame.h"
#include "tests/transfer/receiver_fixture.h"

class PaneTest : public ReceiverFixture {
  protected:
    void SetUp() override;
    void TearDown() override;

    CDirListCtrl* PcPane() const { return frame_->panes[0]; }
    CDirListCtrl* ReceiverPane() const { return frame_->panes[1]; }
    // The PC pane's folder: pc/ with Alpha/ (holding inner.txt and Deep/deeper.txt), Beta/,
    // small.txt (1023 bytes), big.bin (3 MiB), show.TP0 (a recording).
    std::string PcFolder() const { return Pc("pc"); }
    std::string PcFile(const std::string& name) const { return PcFolder() + "/" + name; }

    // Receiver files written through the file system, over the link.
    void WriteReceiverFile(const std::string& path, const std::string& bytes);
    void MakeReceiverFolder(const std::string& path);
    bool ReceiverHas(const std::string& path);

    // Rows as the pane shows them: column `column` of each row in order.
    static std::vector<std::string> Column(CDirListCtrl* pane, int column);
    // The row whose record is named `name`, -1 for none.
    static long RowNamed(CDirListCtrl* pane, const std::string& name);
    // Selects exactly these rows (as the program would, without the mouse).
    static void Select(CDirListCtrl* pane, const std::vector<std::string>& names);
    // A point in the middle of a row's label, on the screen.
    static wxPoint RowPoint(CDirListCtrl* pane, long row);
    // Clicks, and double-clicks, a row where a user would.
    static void ClickRow(CDirListCtrl* pane, long row, int modifiers = 0);
    static void DoubleClickRow(CDirListCtrl* pane, long row);
    static void Type(const std::string& text);

    PaneTestFrame* frame_ = nullptr;
};

// Longer than the desktop's double-click time, so that two clicks stay two.
void PauseBetweenClicks();

// The desktop trash of this test process (XDG_DATA_HOME is set to a folder of its own).
std::string TrashFolder();
