#include "controls/icon_edit.h"

#include <gtest/gtest.h>
#include <wx/uiaction.h>

#include "tests/controls/widget_frame.h"
#include "tests/gui_support/window_test_support.h"

namespace {

const wxColour kHintGrey(0xAA, 0xAA, 0xAA);

class IconEditTest : public testing::Test {
  protected:
    void SetUp() override {
        // Something else to hold the focus while the field has none.
        other_ =
            new wxTextCtrl(frame_.panel(), wxID_ANY, "other", wxPoint(10, 80), wxSize(200, -1));
        edit_ = new CIconEdit(frame_.panel(), wxID_ANY, "", wxPoint(10, 20), wxSize(260, -1));
        edit_->SetHintText("Enter search here");
        frame_.Show();
        other_->SetFocus();
        window_test::PumpUntil([&] { return other_->HasFocus(); });
        window_test::PumpFor(100);
    }

    // Hint-grey pixels in the field's text area, as the screen shows the field.
    int HintPixels(const std::string& name) {
        window_test::PumpFor(100);
        const wxImage shown = ShownNow(frame_.panel());
        window_test::SaveImage(shown.GetSubImage(edit_->GetRect()), name);
        wxRect text_area = edit_->GetRect();
        text_area.x += 20;
        text_area.width -= 20;
        return window_test::CountPixels(shown, text_area, kHintGrey, 12);
    }

    WidgetFrame frame_;
    wxTextCtrl* other_ = nullptr;
    CIconEdit* edit_ = nullptr;
};

}  // namespace

TEST_F(IconEditTest, HintOnlyWhileEmptyAndUnfocused) {
    EXPECT_GT(HintPixels("icon_edit_hint"), 30);
    EXPECT_TRUE(edit_->IsHintShown());

    edit_->SetFocus();
    ASSERT_TRUE(window_test::PumpUntil([&] { return edit_->HasFocus(); }));
    EXPECT_EQ(HintPixels("icon_edit_focused"), 0);

    wxUIActionSimulator simulator;
    simulator.Char('a');
    ASSERT_TRUE(window_test::PumpUntil([&] { return edit_->GetValue() == "a"; }));
    other_->SetFocus();
    ASSERT_TRUE(window_test::PumpUntil([&] { return other_->HasFocus(); }));
    EXPECT_EQ(HintPixels("icon_edit_typed_unfocused"), 0);

    edit_->Clear();
    EXPECT_GT(HintPixels("icon_edit_cleared"), 30);
    EXPECT_TRUE(edit_->IsHintShown());
}

TEST_F(IconEditTest, ClickOnTheHintFocusesTheFieldAndTextStartsAfterTheIcon) {
    wxUIActionSimulator simulator;
    simulator.MouseMove(edit_->ClientToScreen(wxPoint(120, edit_->GetSize().y / 2)));
    window_test::PumpFor(50);
    simulator.MouseClick();
    ASSERT_TRUE(window_test::PumpUntil([&] { return edit_->HasFocus(); }));
    EXPECT_FALSE(edit_->IsHintShown());
    simulator.Text("WWW");
    ASSERT_TRUE(window_test::PumpUntil([&] { return edit_->GetValue() == "WWW"; }));
    window_test::PumpFor(100);
    const wxImage shown = ShownNow(frame_.panel()).GetSubImage(edit_->GetRect());
    window_test::SaveImage(shown, "icon_edit_text");
    // The icon's dark rim shows at the left, and no text ink overlaps it: the columns of
    // the icon hold the icon's colours only, and text ink lies right of it.
    const wxColour icon_rim(0x3a, 0x4a, 0x60);
    EXPECT_GT(window_test::CountPixels(shown, wxRect(0, 0, 20, shown.GetHeight()), icon_rim, 30),
              5);
    const wxColour text_ink = edit_->GetForegroundColour();
    EXPECT_GT(window_test::CountPixels(shown, wxRect(20, 0, 60, shown.GetHeight()), text_ink, 60),
              20);
}
