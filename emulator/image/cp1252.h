// UTF-8 text and the Windows-1252 bytes the receiver's file system takes names in.
#pragma once

#include <string>

namespace image {

// Characters that Windows-1252 cannot hold become '_'.
std::string Utf8ToCp1252(const std::string& text);
std::string Cp1252ToUtf8(const std::string& bytes);

}  // namespace image
