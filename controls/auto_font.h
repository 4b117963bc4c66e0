// A font made from a face, a character height in pixels and a weight, as the program's
// controls ask for them, with two spare integers for the control that owns it.
#pragma once

#include <wx/colour.h>
#include <wx/font.h>

#include <string>

inline constexpr int kWeightNormal = 400;
inline constexpr int kWeightBold = 700;

class CAutoFont : public wxFont {
  public:
    // `height` is the character height in pixels; Swiss family, variable pitch, upright.
    // A face this machine lacks is replaced by the desktop's sans font.
    CAutoFont(const std::string& face, int height, int weight);

    // The spare integers, 0 at creation; spare 0 holds the text colour (0x00BBGGRR) that
    // CSXButton draws its caption in.
    long GetSpare(int index) const { return spare_[index & 1]; }
    void SetSpare(int index, long value) { spare_[index & 1] = value; }
    wxColour GetTextColour() const;
    void SetTextColour(const wxColour& colour);

  private:
    long spare_[2] = {0, 0};
};

// `face` when the machine has it, else the desktop's sans font; the first replacement of
// each face is logged.
std::string ResolveFaceName(const std::string& face);
