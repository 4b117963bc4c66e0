#include "emulator/image/cp1252.h"

#include <cstdint>

namespace image {

namespace {

// Code points of bytes 0x80 to 0x9F; 0 where Windows-1252 has none.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char ByteFor(char32_t code_point) {
    if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF))
        return static_cast<char>(code_point);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == code_point && code_point != 0) return static_cast<char>(0x80 + i);
    return '_';
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string Utf8ToCp1252(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const uint8_t lead = static_cast<uint8_t>(text[i]);
        int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || i + length > text.size()) {
            out += '_';
            ++i;
            continue;
        }
        char32_t code_point = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k)
            code_point = code_point << 6 | (static_cast<uint8_t>(text[i + k]) & 0x3F);
        out += ByteFor(code_point);
        i += static_cast<size_t>(length);
    }
    return out;
}

std::string Cp1252ToUtf8(const std::string& bytes) {
    std::string out;
    for (const char byte : bytes) {
        const uint8_t b = static_cast<uint8_t>(byte);
        const char32_t c = b >= 0x80 && b < 0xA0 ? kHighControls[b - 0x80] : b;
        AppendUtf8(out, c == 0 ? U'\uFFFD' : c);
    }
    return out;
}

}  // namespace image
