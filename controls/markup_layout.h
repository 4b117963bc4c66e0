// The layout of the coloured static text's markup, apart from any drawing: the text is cut
// into words at blank, tab, carriage return and "§"; a single "§" switches bold on or off,
// "§§" ends a paragraph (1.5 lines down), a carriage return or line feed starts a new line, a
// tab moves to the next tab stop; a word that would pass the right edge starts a new line.
// Words starting "www." or "http" link to themselves; "[text](target)" shows text, links to
// target. Text is UTF-8.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct MarkupSize {
    int width = 0;
    int height = 0;
};

// Measures a piece of text in the normal or the bold font.
using MeasureMarkupText = std::function<MarkupSize(std::string_view text, bool bold)>;

struct MarkupWord {
    std::string text;    // what is drawn
    std::string target;  // the link's target; empty when the word is no link
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool bold = false;
};

struct MarkupLayout {
    std::vector<MarkupWord> words;
    int width = 0;   // the right edge of the widest line
    int height = 0;  // the bottom of the last line
};

inline const std::vector<int> kDefaultTabStops = {30, 60, 90, 120, 150};

// Lays `text` out from (0, 0) in a box `width` pixels wide; `line_height` is the height of
// "W" in the normal font.
MarkupLayout LayOutMarkup(std::string_view text, int width, int line_height,
                          const std::vector<int>& tab_stops, const MeasureMarkupText& measure);
