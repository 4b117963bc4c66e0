// Text of the program (UTF-8) as the windows take it. Names from the PC's disks are bytes that
// need not be UTF-8 (an old Latin-1 file name); those are shown as Windows-1252 rather than
// not at all.
#pragma once

#include <wx/string.h>

#include <string_view>

wxString WindowText(std::string_view text);
