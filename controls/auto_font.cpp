#include "controls/auto_font.h"

#include <wx/fontenum.h>
#include <wx/settings.h>

#include <map>

#include "app/log.h"
#include "controls/colorref.h"

std::string ResolveFaceName(const std::string& face) {
    // Asking the font system is slow, and each replacement is worth one log line only.
    static std::map<std::string, std::string> resolved;
    auto known = resolved.find(face);
    if (known != resolved.end()) return known->second;
    std::string result = face;
    if (!wxFontEnumerator::IsValidFacename(wxString::FromUTF8(face))) {
        result = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT).GetFaceName().utf8_string();
        LogLine("Font \"" + face + "\" missing, using \"" + result + "\"", 1);
    }
    resolved.emplace(face, result);
    return result;
}

CAutoFont::CAutoFont(const std::string& face, int height, int weight)
    : wxFont(wxFontInfo(wxSize(0, height))
                 .Family(wxFONTFAMILY_SWISS)
                 .FaceName(wxString::FromUTF8(ResolveFaceName(face)))
                 .Weight(weight)) {
    LogScope scope("CAutoFont::CAutoFont", 3);
}

wxColour CAutoFont::GetTextColour() const {
    return ColourFromColorRef(static_cast<std::uint32_t>(spare_[0]));
}

void CAutoFont::SetTextColour(const wxColour& colour) {
    spare_[0] = static_cast<long>(colour.Red() | (colour.Green() << 8) | (colour.Blue() << 16));
}
