// The main window's check box "Verify copies": a click saves it to the setting VerifyCopies,
// the next start shows it again, and a transfer with it ticked reads its copies back and
// says so in the summary box.
#include <gtest/gtest.h>
#include <wx/checkbox.h>

#include <string>
#include <vector>

#include "app/main_window_layout.h"
#include "app/settings.h"
#include "controls/message_box_dialog.h"
#include "panes/windows/dir_list_ctrl.h"
#include "tests/gui_support/modal_driver.h"
#include "tests/gui_support/window_test_support.h"
#include "tests/windows/main_window_fixture.h"

using window_test::Click;
using window_test::PumpUntil;

namespace {

wxCheckBox* VerifyBox(COV_USBDlg& dialog) {
    return dynamic_cast<wxCheckBox*>(dialog.FindWindow(main_window::kVerify));
}

TEST_F(MainWindowTest, TheVerifyBoxIsSavedAndATickedTransferReadsItsCopyBack) {
    EXPECT_FALSE(settings::VerifyCopies());
    Run([&](COV_USBDlg& dialog) {
        wxCheckBox* box = VerifyBox(dialog);
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(box->GetValue());
        Click(box);
        EXPECT_TRUE(PumpUntil([] { return settings::VerifyCopies(); }));
        Click(box);
        EXPECT_TRUE(PumpUntil([] { return !settings::VerifyCopies(); }));
        Click(box);
        EXPECT_TRUE(PumpUntil([] { return settings::VerifyCopies(); }));
    });
    std::vector<std::string> summaries;
    Run([&](COV_USBDlg& dialog) {
        EXPECT_TRUE(VerifyBox(dialog)->GetValue());  // as saved
        AnswerBoxes([&](CMessageBoxDialog& box) {
            summaries.push_back(box.Message());
            return message_box::kIdOk;
        });
        CDirListCtrl* pc = dialog.Pane(0);
        ClickRow(pc, RowNamed(pc, "clip.ts"));
        Click(dialog.FindWindow(main_window::kTransfer));
        EXPECT_TRUE(PumpUntil([&] { return !summaries.empty(); }, 30000));
    });
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_NE(summaries[0].find("New files copied:\t1\r\n"), std::string::npos) << summaries[0];
    EXPECT_NE(summaries[0].find("\r\nVerified files: 1, differences: 0"), std::string::npos)
        << summaries[0];
    Connect();
    EXPECT_TRUE(ReceiverBytes("C:\\clip.ts") == ReadFileBytes(Pc("pc/clip.ts")));
    ExpectDiskClean();
}

}  // namespace
