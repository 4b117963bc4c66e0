#include "controls/sx_button.h"

#include <gtest/gtest.h>
#include <wx/uiaction.h>

#include "controls/png_image.h"
#include "tests/controls/widget_frame.h"
#include "tests/gui_support/window_test_support.h"

namespace {

class SXButtonTest : public testing::Test {
  protected:
    CSXButton* Make(const wxString& label, const wxSize& size, const wxPoint& pos = {20, 20}) {
        auto* button = new CSXButton(frame_.panel(), wxID_ANY, label, pos, size);
        return button;
    }

    // The picture of one skin frame scaled as the button does it.
    static wxImage Frame(int index, const wxSize& size) {
        const wxImage skin = ArtworkImage(ArtworkId::kButtonSkin);
        return NineSliceScale(skin.GetSubImage(wxRect(index * 40, 0, 40, 24)), size,
                              SliceMargins{15, 12, 8, 9});
    }

    // Pixels where `shown` matches `frame` (key colour aside), within a small tolerance.
    static int Matching(const wxImage& shown, const wxImage& frame) {
        int matching = 0;
        for (int y = 0; y < frame.GetHeight(); ++y)
            for (int x = 0; x < frame.GetWidth(); ++x)
                if (std::abs(shown.GetRed(x, y) - frame.GetRed(x, y)) < 4 &&
                    std::abs(shown.GetGreen(x, y) - frame.GetGreen(x, y)) < 4 &&
                    std::abs(shown.GetBlue(x, y) - frame.GetBlue(x, y)) < 4)
                    ++matching;
        return matching;
    }

    // Which frame the screen shows for `button`: the one most of its pixels match.
    static int ShownFrame(CSXButton* button, const std::string& name) {
        window_test::PumpFor(100);
        const wxImage shown = window_test::Capture(button);
        window_test::SaveImage(shown, name);
        int best = -1, best_count = -1;
        for (int index : {0, 1, 2, 3}) {
            const int count = Matching(shown, Frame(index, button->GetClientSize()));
            if (count > best_count) {
                best = index;
                best_count = count;
            }
        }
        return best;
    }

    WidgetFrame frame_;
};

}  // namespace

TEST_F(SXButtonTest, NarrowButtonStillDrawsItsFourCorners) {
    CSXButton* narrow = Make("", wxSize(16, 24));
    frame_.Show();
    const wxImage shown = window_test::Capture(narrow);
    window_test::SaveImage(shown.Scale(64, 96), "sx_button_narrow");
    // The corners are rounded: the key colour is not drawn, so the panel shows in each
    // corner pixel, and the border colour right next to it.
    // The first control of the frame has the focus: it shows the hot frame's border.
    ASSERT_EQ(narrow->GetDrawState(), CSXButton::kHot);
    const wxColour border(0xe5, 0x9a, 0x2a);
    const int w = shown.GetWidth(), h = shown.GetHeight();
    for (const wxPoint& corner :
         {wxPoint(0, 0), wxPoint(w - 1, 0), wxPoint(0, h - 1), wxPoint(w - 1, h - 1)}) {
        EXPECT_EQ(window_test::CountPixels(shown, wxRect(corner, wxSize(1, 1)), kPanelColour, 2), 1)
            << corner.x << "," << corner.y;
    }
    for (const wxRect& edge :
         {wxRect(0, 0, w, 3), wxRect(0, h - 3, w, 3), wxRect(0, 0, 3, h), wxRect(w - 3, 0, 3, h)}) {
        EXPECT_GT(window_test::CountPixels(shown, edge, border, 8), 3) << edge.x << "," << edge.y;
    }
    EXPECT_EQ(window_test::CountPixels(shown, wxRect(0, 0, w, h), wxColour(255, 0, 255), 20), 0);
}

TEST_F(SXButtonTest, HoverPressedDisabledAndClick) {
    CSXButton* button = Make("Transfer", wxSize(120, 32));
    // A second button takes the focus away, so the first shows hover alone.
    CSXButton* other = Make("Other", wxSize(80, 32), wxPoint(20, 120));
    int clicks = 0;
    button->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { ++clicks; });
    frame_.Show();
    other->SetFocus();
    window_test::PumpUntil([&] { return other->HasFocus(); });
    wxUIActionSimulator simulator;
    simulator.MouseMove(frame_.panel()->ClientToScreen(wxPoint(300, 200)));
    window_test::PumpFor(100);
    EXPECT_EQ(ShownFrame(button, "sx_button_normal"), 0);

    simulator.MouseMove(button->ClientToScreen(wxPoint(60, 16)));
    window_test::PumpUntil([&] { return button->GetDrawState() == CSXButton::kHot; });
    EXPECT_EQ(ShownFrame(button, "sx_button_hot"), 3);

    simulator.MouseDown();
    window_test::PumpUntil([&] { return button->GetDrawState() == CSXButton::kPressed; });
    EXPECT_EQ(ShownFrame(button, "sx_button_pressed"), 1);
    EXPECT_EQ(clicks, 0);
    simulator.MouseUp();
    ASSERT_TRUE(window_test::PumpUntil([&] { return clicks == 1; }));
    EXPECT_TRUE(button->HasFocus());

    // Moved away, it stays hot while it has the focus.
    simulator.MouseMove(frame_.panel()->ClientToScreen(wxPoint(300, 200)));
    window_test::PumpFor(100);
    EXPECT_EQ(ShownFrame(button, "sx_button_focused"), 3);

    // Space and Enter click it like a push button.
    simulator.Char(WXK_SPACE);
    ASSERT_TRUE(window_test::PumpUntil([&] { return clicks == 2; }));
    simulator.Char(WXK_RETURN);
    ASSERT_TRUE(window_test::PumpUntil([&] { return clicks == 3; }));

    button->Disable();
    EXPECT_EQ(ShownFrame(button, "sx_button_disabled"), 2);
    simulator.MouseMove(button->ClientToScreen(wxPoint(60, 16)));
    window_test::PumpFor(50);
    simulator.MouseClick();
    window_test::PumpFor(150);
    EXPECT_EQ(clicks, 3);
}

TEST_F(SXButtonTest, CaptionInTheFontColourAndGreyWhenDisabled) {
    CSXButton* button = Make("Settings", wxSize(120, 32));
    button->GetAutoFont().SetTextColour(wxColour(200, 0, 0));
    frame_.Show();
    wxImage shown = window_test::Capture(button);
    window_test::SaveImage(shown, "sx_button_caption");
    EXPECT_GT(window_test::CountPixels(shown, wxRect(shown.GetSize()), wxColour(200, 0, 0), 90),
              20);
    button->Disable();
    window_test::PumpFor(100);
    shown = window_test::Capture(button);
    window_test::SaveImage(shown, "sx_button_caption_disabled");
    EXPECT_EQ(window_test::CountPixels(shown, wxRect(shown.GetSize()), wxColour(200, 0, 0), 90), 0);
}
