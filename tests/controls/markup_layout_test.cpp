#include "controls/markup_layout.h"

#include <gtest/gtest.h>

namespace {

// Every byte 10 pixels wide (12 in bold), every piece 10 high.
MarkupSize FixedWidth(std::string_view text, bool bold) {
    return MarkupSize{static_cast<int>(text.size()) * (bold ? 12 : 10), 10};
}

MarkupLayout Lay(std::string_view text, int width = 1000) {
    return LayOutMarkup(text, width, 10, kDefaultTabStops, FixedWidth);
}

}  // namespace

TEST(MarkupLayout, WordsRunLeftToRightAndWrapAtTheRightEdge) {
    const MarkupLayout layout = Lay("one two three", 75);
    ASSERT_EQ(layout.words.size(), 3u);
    EXPECT_EQ(layout.words[0].x, 0);
    EXPECT_EQ(layout.words[1].x, 40);  // "one" and a blank
    EXPECT_EQ(layout.words[1].y, 0);
    // "three" (50) would pass 75 after "one two ": it starts the next line.
    EXPECT_EQ(layout.words[2].x, 0);
    EXPECT_EQ(layout.words[2].y, 10);
    EXPECT_EQ(layout.height, 20);
}

TEST(MarkupLayout, SectionSignsSwitchBoldAndTwoEndAParagraph) {
    const MarkupLayout bold = Lay("\xC2\xA7Title\xC2\xA7 text");
    ASSERT_EQ(bold.words.size(), 2u);
    EXPECT_TRUE(bold.words[0].bold);
    EXPECT_EQ(bold.words[0].width, 60);
    EXPECT_FALSE(bold.words[1].bold);

    const MarkupLayout paragraph = Lay("first\xC2\xA7\xC2\xA7second");
    ASSERT_EQ(paragraph.words.size(), 2u);
    EXPECT_FALSE(paragraph.words[1].bold);
    EXPECT_EQ(paragraph.words[1].x, 0);
    EXPECT_EQ(paragraph.words[1].y, 15);
}

TEST(MarkupLayout, LineBreaksAndTabStops) {
    const MarkupLayout layout = Lay("a\r\nb\rc\nd\tx\t\ty");
    ASSERT_EQ(layout.words.size(), 6u);
    EXPECT_EQ(layout.words[1].y, 10);  // "\r\n" is one break
    EXPECT_EQ(layout.words[2].y, 20);
    EXPECT_EQ(layout.words[3].y, 30);
    EXPECT_EQ(layout.words[4].x, 30);  // "d" ends at 10: the first stop is 30
    EXPECT_EQ(layout.words[5].x, 90);  // "x" ends at 40: stops 60, then 90
    // Past the last stop a tab is a blank.
    const MarkupLayout far = Lay("abcdefghijklmnop\tz");
    EXPECT_EQ(far.words[1].x, 170);
}

TEST(MarkupLayout, WebAddressesAndBracketLinks) {
    const MarkupLayout layout =
        Lay("see www.example.org and http://a.b/c or [here](https://x.y/z). done");
    ASSERT_EQ(layout.words.size(), 8u);
    EXPECT_EQ(layout.words[1].target, "www.example.org");
    EXPECT_TRUE(layout.words[2].target.empty());
    EXPECT_EQ(layout.words[3].target, "http://a.b/c");
    EXPECT_EQ(layout.words[5].text, "here");
    EXPECT_EQ(layout.words[5].target, "https://x.y/z");
    // What follows the closing parenthesis is drawn right after the link, as plain text.
    EXPECT_EQ(layout.words[6].text, ".");
    EXPECT_TRUE(layout.words[6].target.empty());
    EXPECT_EQ(layout.words[6].x, layout.words[5].x + 40);
    // Not a link: no "](" or no ")".
    EXPECT_TRUE(Lay("[broken]").words[0].target.empty());
    EXPECT_EQ(Lay("[open](x").words[0].text, "[open](x");
}
