#include "controls/markup_layout.h"

namespace {

constexpr std::string_view kSection = "\xC2\xA7";  // "§" in UTF-8

struct Pen {
    int x = 0;
    int y = 0;
    bool bold = false;
};

std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool IsWebAddress(std::string_view word) {
    return word.starts_with("www.") || word.starts_with("http");
}

class Layouter {
  public:
    Layouter(int width, int line_height, const std::vector<int>& tab_stops,
             const MeasureMarkupText& measure)
        : width_(width), line_height_(line_height), tab_stops_(tab_stops), measure_(measure) {}

    void Word(std::string_view word) {
        if (word.empty()) return;
        // "[text](target)": the text is shown, anything after the closing parenthesis too.
        if (word.front() == '[') {
            const auto middle = word.find("](", 1);
            const auto close =
                middle == std::string_view::npos ? middle : word.find(')', middle + 2);
            if (close != std::string_view::npos) {
                const std::string_view shown = word.substr(1, middle - 1);
                const std::string_view target =
                    TrimBlanks(word.substr(middle + 2, close - middle - 2));
                const std::string_view rest = word.substr(close + 1);
                const MarkupSize whole = Measure(std::string(shown) + std::string(rest));
                WrapFor(whole.width);
                Place(shown, target);
                Place(rest, {});
                return;
            }
        }
        WrapFor(Measure(word).width);
        Place(word, IsWebAddress(word) ? TrimBlanks(word) : std::string_view());
    }

    void Blank() { pen_.x += Measure(" ").width; }
    void Tab() {
        for (int stop : tab_stops_) {
            if (stop > pen_.x) {
                pen_.x = stop;
                return;
            }
        }
        Blank();  // past the last stop a tab is as wide as a blank
    }
    void NewLine(int advance) {
        pen_.x = 0;
        pen_.y += advance;
    }
    void ToggleBold() { pen_.bold = !pen_.bold; }
    int LineHeight() const { return line_height_; }

    MarkupLayout Finish() {
        layout_.height = pen_.y + line_height_;
        return std::move(layout_);
    }

  private:
    MarkupSize Measure(std::string_view text) const { return measure_(text, pen_.bold); }

    void WrapFor(int word_width) {
        if (pen_.x > 0 && pen_.x + word_width > width_) NewLine(line_height_);
    }

    void Place(std::string_view text, std::string_view target) {
        if (text.empty()) return;
        const MarkupSize size = Measure(text);
        layout_.words.push_back(MarkupWord{std::string(text), std::string(target), pen_.x, pen_.y,
                                           size.width, size.height, pen_.bold});
        pen_.x += size.width;
        if (pen_.x > layout_.width) layout_.width = pen_.x;
    }

    int width_;
    int line_height_;
    const std::vector<int>& tab_stops_;
    const MeasureMarkupText& measure_;
    Pen pen_;
    MarkupLayout layout_;
};

}  // namespace

MarkupLayout LayOutMarkup(std::string_view text, int width, int line_height,
                          const std::vector<int>& tab_stops, const MeasureMarkupText& measure) {
    Layouter layouter(width, line_height, tab_stops, measure);
    size_t word_start = 0;
    size_t i = 0;
    while (i <= text.size()) {
        // The end of the text ends the last word as a blank would.
        const bool at_end = i == text.size();
        const bool section = !at_end && text.substr(i).starts_with(kSection);
        const char c = at_end ? ' ' : text[i];
        if (!section && c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        layouter.Word(text.substr(word_start, i - word_start));
        if (section) {
            const bool paragraph = text.substr(i + kSection.size()).starts_with(kSection);
            if (paragraph) {
                layouter.NewLine(layouter.LineHeight() * 3 / 2);
                i += 2 * kSection.size();
            } else {
                layouter.ToggleBold();
                i += kSection.size();
            }
        } else {
            if (c == ' ' && !at_end) layouter.Blank();
            if (c == '\t') layouter.Tab();
            // "\r\n" is one line break.
            if (c == '\r' || (c == '\n' && (i == 0 || text[i - 1] != '\r')))
                layouter.NewLine(layouter.LineHeight());
            ++i;
        }
        word_start = i;
    }
    return layouter.Finish();
}
