#include "controls/color_static_st.h"

#include <gtest/gtest.h>
#include <wx/dcclient.h>
#include <wx/uiaction.h>

#include "controls/link_opener.h"
#include "tests/controls/widget_frame.h"
#include "tests/gui_support/window_test_support.h"

namespace {

const wxColour kLinkBlue(0, 0, 255);

// Records what the text asks to open and how often it beeps, instead of a browser.
class RecordingShell {
  public:
    explicit RecordingShell(bool opens)
        : previous_(ReplaceLinkShell(LinkShell{[this, opens](const std::string& target) {
                                                   opened.push_back(target);
                                                   return opens;
                                               },
                                               [this] { ++beeps; }})) {}
    ~RecordingShell() { ReplaceLinkShell(std::move(previous_)); }
    std::vector<std::string> opened;
    int beeps = 0;

  private:
    LinkShell previous_;
};

class ColorStaticTest : public testing::Test {
  protected:
    CColorStaticST* Make(const wxString& text, const wxColour& colour) {
        auto* control =
            new CColorStaticST(frame_.panel(), wxID_ANY, text, wxPoint(10, 10), wxSize(380, 200));
        control->SetTextColor(colour);
        frame_.Show();
        window_test::PumpUntil([&] { return !control->GetLayout().words.empty(); });
        return control;
    }

    // Clicks the middle of `word` of `control` with the real mouse.
    void Click(CColorStaticST* control, const MarkupWord& word) {
        wxUIActionSimulator simulator;
        simulator.MouseMove(
            control->ClientToScreen(wxPoint(word.x + word.width / 2, word.y + word.height / 2)));
        window_test::PumpFor(50);
        simulator.MouseClick();
        window_test::PumpFor(150);
    }

    static wxRect Box(const MarkupWord& word) {
        return wxRect(word.x, word.y, word.width, word.height);
    }

    WidgetFrame frame_;
};

}  // namespace

TEST_F(ColorStaticTest, WebAddressInBlackTextIsBlueUnderlinedAndOpensOnClick) {
    RecordingShell shell(true);
    CColorStaticST* text = Make("Visit www.example.org today", *wxBLACK);
    const wxImage shown = window_test::Capture(text);
    window_test::SaveImage(shown, "color_static_link_black");
    const auto& words = text->GetLayout().words;
    ASSERT_EQ(words.size(), 3u);
    const MarkupWord link = words[1];
    EXPECT_EQ(link.target, "www.example.org");
    EXPECT_GT(window_test::CountPixels(shown, Box(link), kLinkBlue, 40), 20);
    EXPECT_EQ(window_test::CountPixels(shown, Box(words[0]), kLinkBlue, 40), 0);
    EXPECT_EQ(window_test::CountPixels(shown, Box(words[2]), kLinkBlue, 40), 0);
    // The underline: a blue line along the word's bottom, exactly blue.
    EXPECT_GE(window_test::CountPixels(
                  shown, wxRect(link.x, link.y + link.height - 1, link.width, 1), kLinkBlue, 0),
              link.width - 1);

    Click(text, words[0]);
    EXPECT_TRUE(shell.opened.empty());
    Click(text, link);
    EXPECT_EQ(shell.opened, std::vector<std::string>{"www.example.org"});
    EXPECT_EQ(shell.beeps, 0);
}

TEST_F(ColorStaticTest, WebAddressInRedTextIsRedAndNotClickable) {
    RecordingShell shell(true);
    CColorStaticST* text = Make("Visit www.example.org today", *wxRED);
    const wxImage shown = window_test::Capture(text);
    window_test::SaveImage(shown, "color_static_link_red");
    const MarkupWord link = text->GetLayout().words.at(1);
    EXPECT_EQ(window_test::CountPixels(shown, Box(link), kLinkBlue, 60), 0);
    EXPECT_GT(window_test::CountPixels(shown, Box(link), *wxRED, 60), 20);
    Click(text, link);
    EXPECT_TRUE(shell.opened.empty());
}

TEST_F(ColorStaticTest, BracketLinkShowsItsTextAndARefusalBeeps) {
    RecordingShell shell(false);
    CColorStaticST* single = Make("Read [manual](https://example.org/m) first", *wxBLACK);
    const wxImage shown = window_test::Capture(single);
    window_test::SaveImage(shown, "color_static_bracket_single");
    const MarkupWord link = single->GetLayout().words.at(1);
    EXPECT_EQ(link.text, "manual");
    EXPECT_EQ(link.target, "https://example.org/m");
    EXPECT_GT(window_test::CountPixels(shown, Box(link), kLinkBlue, 40), 20);
    Click(single, link);
    EXPECT_EQ(shell.opened, std::vector<std::string>{"https://example.org/m"});
    EXPECT_EQ(shell.beeps, 1);
}

TEST_F(ColorStaticTest, BoldParagraphAndTabOnTheScreen) {
    CColorStaticST* text =
        Make(wxString::FromUTF8("\xC2\xA7Word\xC2\xA7 Word\xC2\xA7\xC2\xA7next\tafter"), *wxBLACK);
    const wxImage shown = window_test::Capture(text);
    window_test::SaveImage(shown, "color_static_markup");
    const auto& words = text->GetLayout().words;
    ASSERT_EQ(words.size(), 4u);
    EXPECT_TRUE(words[0].bold);
    EXPECT_FALSE(words[1].bold);
    EXPECT_GT(words[0].width, words[1].width);
    // More ink in the bold word than in the same word normal.
    EXPECT_GT(window_test::CountPixels(shown, Box(words[0]), *wxBLACK, 100),
              window_test::CountPixels(shown, Box(words[1]), *wxBLACK, 100));
    wxClientDC dc(text);
    dc.SetFont(text->GetFont());
    const int line = dc.GetTextExtent("W").y;
    EXPECT_EQ(words[2].y, line * 3 / 2);
    EXPECT_EQ(words[2].x, 0);
    EXPECT_EQ(words[3].x, words[2].width <= 30 ? 30 : words[2].width <= 60 ? 60 : 90);
    // The text is drawn where the layout says: ink on the second line's words.
    EXPECT_GT(window_test::CountPixels(shown, Box(words[3]), *wxBLACK, 100), 5);
    // MeasureText gives the height the message box needs for the text.
    EXPECT_EQ(text->MeasureText(dc, 380).y, line * 3 / 2 + line);
}
