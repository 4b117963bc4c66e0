#include "controls/vista_bar.h"

#include <gtest/gtest.h>
#include <wx/dcclient.h>

#include "controls/artwork.h"
#include "controls/png_image.h"
#include "tests/controls/widget_frame.h"
#include "tests/gui_support/window_test_support.h"

namespace {

// A window that counts its paintings, as the bar's buddy.
class PaintCounter : public wxWindow {
  public:
    explicit PaintCounter(wxWindow* parent)
        : wxWindow(parent, wxID_ANY, wxPoint(10, 120), wxSize(100, 40)) {
        Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
            wxPaintDC dc(this);
            ++paints;
        });
    }
    int paints = 0;
};

class VistaBarTest : public testing::Test {
  protected:
    void SetUp() override {
        bar_ = new CVistaBar(frame_.panel(), wxID_ANY, wxPoint(0, 0), wxSize(400, 64));
        buddy_ = new PaintCounter(frame_.panel());
        bar_->SetBuddy(buddy_);
        frame_.Show();
    }

    WidgetFrame frame_;
    CVistaBar* bar_ = nullptr;
    PaintCounter* buddy_ = nullptr;
};

}  // namespace

TEST_F(VistaBarTest, GradientFramesAndGloss) {
    const wxImage shown = window_test::Capture(bar_);
    window_test::SaveImage(shown, "vista_bar_empty");
    auto at = [&](int x, int y) {
        return wxColour(shown.GetRed(x, y), shown.GetGreen(x, y), shown.GetBlue(x, y));
    };
    auto near = [](const wxColour& a, const wxColour& b, int tolerance) {
        return std::abs(a.Red() - b.Red()) <= tolerance &&
               std::abs(a.Green() - b.Green()) <= tolerance &&
               std::abs(a.Blue() - b.Blue()) <= tolerance;
    };
    // Below the gloss: the gradient's three colours at the left end, middle and right end.
    EXPECT_TRUE(near(at(3, 40), wxColour(0x09, 0x4A, 0x74), 6)) << at(3, 40).GetAsString();
    EXPECT_TRUE(near(at(200, 40), wxColour(0x20, 0x79, 0x8C), 6)) << at(200, 40).GetAsString();
    EXPECT_TRUE(near(at(396, 40), wxColour(0x05, 0x6F, 0x5A), 6)) << at(396, 40).GetAsString();
    // The two frames: outer top-left and bottom-right, inner ones a pixel inside.
    EXPECT_TRUE(near(at(100, 0), wxColour(0x0D, 0x31, 0x41), 0));
    EXPECT_TRUE(near(at(0, 30), wxColour(0x0D, 0x31, 0x41), 0));
    EXPECT_TRUE(near(at(100, 63), wxColour(0x5E, 0x70, 0x64), 0));
    EXPECT_TRUE(near(at(399, 30), wxColour(0x5E, 0x70, 0x64), 0));
    EXPECT_TRUE(near(at(100, 1), wxColour(0x87, 0xC0, 0xB9), 0));
    EXPECT_TRUE(near(at(398, 30), wxColour(0x6D, 0xA5, 0xA8), 0));
    // The gloss lightens the top rows, fading downwards.
    EXPECT_GT(at(3, 3).Red(), at(3, 40).Red() + 60);
    EXPECT_GT(at(3, 3).Red(), at(3, 14).Red());
}

TEST_F(VistaBarTest, TextsInTheirColoursAndTheBuddyRepainted) {
    window_test::PumpFor(100);
    const int paints_before = buddy_->paints;
    bar_->SetFirstText("[DE_ZIV] 120.5GB free/ 232.9GB total");
    bar_->SetSecondText("3 files selected");
    ASSERT_TRUE(window_test::PumpUntil([&] { return buddy_->paints > paints_before; }));
    const wxImage shown = window_test::Capture(bar_);
    window_test::SaveImage(shown, "vista_bar_texts");
    // First text (R 0x94, G 0xD7, B 0xFF) in the top band from x 5, the second (white)
    // starting 25 pixels in; neither outside its inset.
    const wxColour first(0x94, 0xD7, 0xFF);
    EXPECT_GT(window_test::CountPixels(shown, wxRect(5, 5, 300, 18), first, 60), 30);
    EXPECT_EQ(window_test::CountPixels(shown, wxRect(2, 12, 3, 11), first, 60), 0);
    EXPECT_GT(window_test::CountPixels(shown, wxRect(25, 25, 200, 30), *wxWHITE, 30), 10);
    EXPECT_EQ(window_test::CountPixels(shown, wxRect(2, 25, 20, 20), *wxWHITE, 30), 0);
}

TEST_F(VistaBarTest, DamagedIconImageIsRefusedAndAGoodOneDrawn) {
    window_test::PumpFor(100);
    const wxImage plain = window_test::Capture(bar_);
    const auto good = ArtworkBytes(ArtworkId::kProgramIcon16);
    EXPECT_FALSE(bar_->SetIconPng(good.first(good.size() / 2)));
    EXPECT_TRUE(bar_->SetIconPng(good));
    window_test::PumpFor(100);
    const wxImage shown = window_test::Capture(bar_);
    window_test::SaveImage(shown, "vista_bar_icon");
    // The icon's opaque pixels change the bar at (5, 5) (under the gloss), nothing else.
    const wxImage icon = ImageFromPng(good);
    int opaque = 0, changed = 0, changed_elsewhere = 0;
    for (int y = 0; y < shown.GetHeight(); ++y) {
        for (int x = 0; x < shown.GetWidth(); ++x) {
            const bool differs = std::abs(shown.GetRed(x, y) - plain.GetRed(x, y)) +
                                     std::abs(shown.GetGreen(x, y) - plain.GetGreen(x, y)) +
                                     std::abs(shown.GetBlue(x, y) - plain.GetBlue(x, y)) >
                                 30;
            const bool in_box =
                x >= 5 && y >= 5 && x < 5 + icon.GetWidth() && y < 5 + icon.GetHeight();
            if (!in_box) {
                changed_elsewhere += differs;
            } else if (icon.GetAlpha(x - 5, y - 5) >= 250) {
                ++opaque;
                changed += differs;
            }
        }
    }
    EXPECT_GT(opaque, 50);
    EXPECT_GT(changed, opaque * 7 / 10);
    EXPECT_EQ(changed_elsewhere, 0);
}
