// Receiver paths and names at the receiver's boundary: the program's text is UTF-8, the
// receiver file system takes and gives Windows-1252 bytes.
#pragma once

#include <string>

#include "platform/text.h"

inline std::string ToBox(const std::string& utf8) {
    return platform::Utf8ToCp1252(utf8);
}
inline std::string FromBox(const std::string& cp1252) {
    return platform::Cp1252ToUtf8(cp1252);
}
