#include "controls/pie_progress.h"

#include <gtest/gtest.h>

#include "tests/controls/widget_frame.h"
#include "tests/gui_support/window_test_support.h"

namespace {

const wxColour kFilled(55, 177, 77);
const wxColour kEmpty(255, 111, 111);

class PieProgressTest : public testing::Test {
  protected:
    void SetUp() override {
        pie_ = new CPieProgress(frame_.panel(), wxID_ANY, wxPoint(10, 10), wxSize(130, 100));
        pie_->SetColors(kFilled, kEmpty);
        frame_.Show();
    }

    // What the screen shows of the pie at `position` of [minimum, maximum].
    wxImage Show(long minimum, long maximum, long position, const std::string& name) {
        pie_->SetRange(minimum, maximum);
        pie_->SetPos(position);
        const wxImage shown = window_test::Capture(pie_);
        window_test::SaveImage(shown, name);
        return shown;
    }

    static int Count(const wxImage& image, const wxColour& colour) {
        return window_test::CountPixels(image, wxRect(image.GetSize()), colour, 8);
    }

    WidgetFrame frame_;
    CPieProgress* pie_ = nullptr;
};

}  // namespace

TEST_F(PieProgressTest, FilledShareOfTheTopFaceFollowsThePercent) {
    int last_filled = -1;
    for (int percent : {0, 25, 50, 75, 100}) {
        const wxImage shown = Show(0, 1024, 1024 * percent / 100, "pie_" + std::to_string(percent));
        const int filled = Count(shown, kFilled);
        const int empty = Count(shown, kEmpty);
        ASSERT_GT(filled + empty, 2000) << "the top face is not on the screen";
        EXPECT_GT(filled, last_filled) << percent;
        EXPECT_NEAR(100.0 * filled / (filled + empty), percent, 4.0) << percent;
        last_filled = filled;
    }
}

TEST_F(PieProgressTest, OneValueRangeShowsAnEmptyPieAndOutsideShowsNothing) {
    const wxImage empty_pie = Show(0, 0, 0, "pie_range_0_0");
    EXPECT_EQ(Count(empty_pie, kFilled), 0);
    EXPECT_GT(Count(empty_pie, kEmpty), 2000);

    const wxImage outside = Show(0, 100, 101, "pie_outside_range");
    EXPECT_EQ(Count(outside, kFilled) + Count(outside, kEmpty), 0);
    // Only the parent's background shows.
    EXPECT_EQ(window_test::CountPixels(outside, wxRect(outside.GetSize()), kPanelColour, 2),
              outside.GetWidth() * outside.GetHeight());
    EXPECT_FALSE(pie_->Render(wxSize(130, 100)).IsOk());
}

TEST_F(PieProgressTest, WhiteIsTransparentAndTheMainWindowSizeIsSmooth) {
    pie_->SetSize(65, 50);
    const wxImage small = Show(0, 1024, 700, "pie_65x50");
    EXPECT_EQ(window_test::CountPixels(small, wxRect(small.GetSize()), *wxWHITE, 0), 0);
    // The corners are the parent's: nothing drawn there.
    EXPECT_EQ(window_test::CountPixels(small, wxRect(0, 0, 3, 3), kPanelColour, 2), 9);
    // Reduced from double size: edge pixels mix the colours instead of stepping.
    const wxImage rendered = pie_->Render(wxSize(65, 50));
    const int pure = Count(rendered, kFilled) + Count(rendered, kEmpty) +
                     window_test::CountPixels(rendered, wxRect(rendered.GetSize()), *wxWHITE, 0);
    EXPECT_LT(pure, 65 * 50);
}
