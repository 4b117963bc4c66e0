#include "controls/window_text.h"

#include "platform/text.h"

wxString WindowText(std::string_view text) {
    const wxString converted = wxString::FromUTF8(text.data(), text.size());
    if (!converted.empty() || text.empty()) return converted;
    const std::string readable = platform::Cp1252ToUtf8(text);
    return wxString::FromUTF8(readable.data(), readable.size());
}
