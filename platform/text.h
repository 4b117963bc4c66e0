// Text helpers for UTF-8 text.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Upper case, letter by letter (ä becomes Ä); bytes that are no valid UTF-8 are upper-cased
// as ASCII and kept otherwise.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

// Windows-1252 bytes as UTF-8, and back (characters that Windows-1252 cannot hold become
// `unknown`).
std::string Cp1252ToUtf8(std::string_view bytes);
std::string Utf8ToCp1252(std::string_view text, char unknown = '_');

// Number of characters (code points) of UTF-8 text.
size_t CharacterCount(std::string_view text);

}  // namespace platform
