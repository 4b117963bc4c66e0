// The managers' messages reach the user as the program's message box once the windows set it.
#include "app/windows/window_messages.h"

#include <gtest/gtest.h>
#include <wx/button.h>

#include "controls/message_box_dialog.h"
#include "pvrdisk/fs/raw_file.h"
#include "tests/gui_support/modal_driver.h"
#include "tests/gui_support/window_test_support.h"
#include "tests/transfer/receiver_fixture.h"
#include "transfer/box_function_mgr.h"

class WindowMessagesTest : public ReceiverFixture {
  protected:
    void TearDown() override {
        SetMessages(nullptr);
        ReceiverFixture::TearDown();
    }
    WindowMessages messages_;
};

TEST_F(WindowMessagesTest, AProtectedEntryIsReportedInTheMessageBox) {
    MakeImage();
    Connect();
    {
        CRawFile file;
        ASSERT_TRUE(file.Open("C:\\TM_SHIFT.000", CFile::modeCreate | CFile::modeWrite));
        file.Write("x", 1);
    }
    SetMessages(&messages_);
    CBoxFunctionMgr box;
    ASSERT_TRUE(box.ReadDir("C:\\"));
    CDirList selection;
    for (const CDirEntry& entry : box.listing)
        if (entry.name == "TM_SHIFT.000") selection.Add(entry);
    ASSERT_EQ(selection.GetSize(), 1u);

    wxString caption, text;
    bool answered = false;
    window_test::WhenDialogShows([&](wxDialog& dialog) {
        auto* box_dialog = dynamic_cast<CMessageBoxDialog*>(&dialog);
        ASSERT_NE(box_dialog, nullptr);
        caption = dialog.GetTitle();
        EXPECT_EQ(box_dialog->Plan().icon, message_box::kIconExclamation);
        window_test::SaveScreenshot(&dialog, "message_box_protected_entry");
        window_test::Click(box_dialog->ButtonFor(message_box::kIdOk));
        answered = true;
    });
    EXPECT_FALSE(box.DeleteFiles(&selection));
    EXPECT_TRUE(answered);
    EXPECT_EQ(caption, "Attention!");
    // Nothing was deleted.
    CRawFile still;
    EXPECT_TRUE(still.Open("C:\\TM_SHIFT.000", CFile::modeRead));
}
