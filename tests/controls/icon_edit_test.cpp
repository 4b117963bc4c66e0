#include "controls/icon_edit.h"

#include <gtest/gtest.h>
#include <wx/dcclient.h>
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
        const wxImage shown = window_test::Capture(frame_.panel());
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
    // Only the typed letter's grey anti-aliased edge, no hint.
    EXPECT_LT(HintPixels("icon_edit_typed_unfocused"), 10);
    EXPECT_FALSE(edit_->IsHintShown());

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
    const wxImage shown = window_test::Capture(frame_.panel()).GetSubImage(edit_->GetRect());
    window_test::SaveImage(shown, "icon_edit_text");
    // The icon's dark rim shows at the left.
    const wxColour icon_rim(0x3a, 0x4a, 0x60);
    EXPECT_GT(window_test::CountPixels(shown, wxRect(0, 0, 20, shown.GetHeight()), icon_rim, 30),
              5);
    // All of the text shows, right of the icon: the columns that differ from the empty
    // field span at least the text's width, and none lies under the icon.
    edit_->Clear();
    window_test::PumpFor(100);
    const wxImage empty = window_test::Capture(frame_.panel()).GetSubImage(edit_->GetRect());
    int first_column = -1, last_column = -1;
    for (int x = 0; x < shown.GetWidth(); ++x) {
        for (int y = 0; y < shown.GetHeight(); ++y) {
            if (std::abs(shown.GetRed(x, y) - empty.GetRed(x, y)) > 60) {
                if (first_column < 0) first_column = x;
                last_column = x;
                break;
            }
        }
    }
    wxClientDC dc(edit_);
    dc.SetFont(edit_->GetFont());
    const int text_width = dc.GetTextExtent("WWW").x;
    EXPECT_GE(first_column, 19);
    EXPECT_GE(last_column - first_column + 1, text_width * 9 / 10);
}
