#include "tests/panes/pane_fixture.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <wx/uiaction.h>

#include <filesystem>

#include "emulator/image/sample_content.h"
#include "panes/windows/pane_state.h"
#include "pvrdisk/pcfm.h"
#include "tests/gui_support/window_test_support.h"
#include "transfer/function_mgr.h"

namespace {

// Set before main, so that the desktop libraries, which read XDG_DATA_HOME once, put this
// process's trash into a folder of its own.
struct PrivateDataHome {
    PrivateDataHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tessel-trash-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        path = pattern;
        setenv("XDG_DATA_HOME", path.c_str(), 1);
    }
    ~PrivateDataHome() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};
PrivateDataHome g_data_home;

}  // namespace

void PauseBetweenClicks() {
    window_test::PumpFor(450);
}

namespace {
// Presses at one place within the desktop's double-click time of each other count as one
// double or triple click; each click here lands 8 pixels beside the last.
wxPoint BesideTheLastClick(wxPoint point) {
    static int turn = 0;
    turn = (turn + 1) % 3;
    return point + wxPoint(8 * turn, 0);
}
}  // namespace

std::string TrashFolder() {
    return g_data_home.path + "/Trash";
}

void PaneTest::SetUp() {
    ReceiverFixture::SetUp();
    MakeImage();
    Connect();
    COvSession::Get().SetUp();
    SharedPaneState() = PaneState{};

    MakeReceiverFolder("C:\\MOVIES");
    MakeReceiverFolder("C:\\MOVIES\\Old");
    MakeReceiverFolder("C:\\JUKEBOX");
    MakeReceiverFolder("C:\\archive");
    WriteReceiverFile("C:\\MOVIES\\Film.TP0", image::MakeRecording("Film of the week"));
    WriteReceiverFile("C:\\MOVIES\\Old\\Older.TP0", image::MakeRecording("Old film"));
    WriteReceiverFile("C:\\001&&News.TP0", image::MakeRecording("Evening News"));
    WriteReceiverFile("C:\\Kochen.TP0", image::MakeRecording("Sch\x02\x66\x01ne K\x02\x6C\x01"
                                                             "che"));
    WriteReceiverFile("C:\\TM_SHIFT.000", std::string(5000, 'x'));
    WriteReceiverFile("C:\\radio.RAD", std::string(2048, 'r'));

    ASSERT_EQ(mkdir(PcFolder().c_str(), 0755), 0);
    ASSERT_EQ(mkdir(PcFile("Alpha").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(PcFile("Alpha/Deep").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(PcFile("Beta").c_str(), 0755), 0);
    WriteFileBytes(PcFile("Alpha/inner.txt"), "inner");
    WriteFileBytes(PcFile("Alpha/Deep/deeper.txt"), "deeper");
    WriteFileBytes(PcFile("small.txt"), std::string(1023, 's'));
    WriteFileBytes(PcFile("big.bin"), std::string(3 << 20, 'b'));
    WriteFileBytes(PcFile("show.TP0"), image::MakeRecording("PC Show"));

    frame_ = new PaneTestFrame;
    frame_->Show();
    ASSERT_TRUE(window_test::PumpUntil([&] { return frame_->IsShownOnScreen(); }));
    PcPane()->SetCurrentDir(PcFolder());
    ReceiverPane()->SetCurrentDir("C:\\");
    for (CDirListCtrl* pane : frame_->panes) ASSERT_TRUE(pane->RefreshList());
    window_test::PumpFor(100);
}

void PaneTest::TearDown() {
    if (frame_ != nullptr) frame_->Destroy();
    window_test::PumpFor(50);
    ReceiverFixture::TearDown();
}

void PaneTest::WriteReceiverFile(const std::string& path, const std::string& bytes) {
    pcfm_file* file = pcfm_open(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(pcfm_write(bytes.data(), 1, bytes.size(), file), bytes.size());
    ASSERT_EQ(pcfm_close(file), 0);
}

void PaneTest::MakeReceiverFolder(const std::string& path) {
    ASSERT_EQ(pcfm_mkdir(path.c_str()), 0) << path;
}

bool PaneTest::ReceiverHas(const std::string& path) {
    pcfm_file* file = pcfm_open(path.c_str(), "rb");
    if (file == nullptr) file = pcfm_open(path.c_str(), "d");
    if (file == nullptr) return false;
    pcfm_close(file);
    return true;
}

std::vector<std::string> PaneTest::Column(CDirListCtrl* pane, int column) {
    std::vector<std::string> texts;
    for (long row = 0; row < pane->GetItemCount(); ++row)
        texts.push_back(pane->GetItemText(row, column).utf8_string());
    return texts;
}

long PaneTest::RowNamed(CDirListCtrl* pane, const std::string& name) {
    for (long row = 0; row < pane->GetItemCount(); ++row) {
        const CDirEntry* entry = pane->RecordAt(row);
        if (entry != nullptr && entry->name == name) return row;
    }
    return -1;
}

void PaneTest::Select(CDirListCtrl* pane, const std::vector<std::string>& names) {
    for (long row = 0; row < pane->GetItemCount(); ++row)
        pane->SetItemState(row, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    for (const std::string& name : names) {
        const long row = RowNamed(pane, name);
        ASSERT_GE(row, 0) << name;
        pane->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                           wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    }
    window_test::PumpFor(50);
}

wxPoint PaneTest::RowPoint(CDirListCtrl* pane, long row) {
    wxRect rect;
    pane->GetItemRect(row, rect, wxLIST_RECT_LABEL);
    return pane->ClientToScreen(wxPoint(rect.x + 20, rect.y + rect.height / 2));
}

void PaneTest::ClickRow(CDirListCtrl* pane, long row, int modifiers) {
    PauseBetweenClicks();
    wxUIActionSimulator simulator;
    simulator.MouseMove(BesideTheLastClick(RowPoint(pane, row)));
    window_test::PumpFor(30);
    if (modifiers & wxMOD_CONTROL) simulator.KeyDown(WXK_CONTROL);
    simulator.MouseClick();
    if (modifiers & wxMOD_CONTROL) simulator.KeyUp(WXK_CONTROL);
    window_test::PumpFor(50);
}

void PaneTest::DoubleClickRow(CDirListCtrl* pane, long row) {
    PauseBetweenClicks();
    wxUIActionSimulator simulator;
    simulator.MouseMove(BesideTheLastClick(RowPoint(pane, row)));
    window_test::PumpFor(30);
    simulator.MouseDblClick();
    window_test::PumpFor(100);
}

void PaneTest::Type(const std::string& text) {
    wxUIActionSimulator simulator;
    simulator.Text(text.c_str());
    window_test::PumpFor(50);
}
