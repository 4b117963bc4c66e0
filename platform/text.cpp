#include "platform/text.h"

#include <glib.h>

#include <cctype>

namespace platform {

namespace {

// Windows-1252 bytes 0x80 to 0x9F; 0 where the code page has no character.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string ChangeCase(std::string_view text, bool upper) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        std::string copy(text);
        for (char& c : copy)
            c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                        : std::tolower(static_cast<unsigned char>(c)));
        return copy;
    }
    gchar* changed = upper ? g_utf8_strup(text.data(), static_cast<gssize>(text.size()))
                           : g_utf8_strdown(text.data(), static_cast<gssize>(text.size()));
    std::string result = changed;
    g_free(changed);
    return result;
}

void AppendUtf8(std::string& out, char32_t c) {
    gchar bytes[6];
    const gint n = g_unichar_to_utf8(static_cast<gunichar>(c), bytes);
    out.append(bytes, static_cast<size_t>(n));
}

}  // namespace

std::string UpperCase(std::string_view text) {
    return ChangeCase(text, true);
}

std::string LowerCase(std::string_view text) {
    return ChangeCase(text, false);
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char b : bytes) {
        const auto byte = static_cast<unsigned char>(b);
        if (byte < 0x80) {
            out.push_back(b);
        } else if (byte < 0xA0) {
            const char32_t c = kCp1252High[byte - 0x80];
            AppendUtf8(out, c != 0 ? c : byte);  // unassigned bytes keep their C1 code point
        } else {
            AppendUtf8(out, byte);
        }
    }
    return out;
}

std::string Utf8ToCp1252(std::string_view text, char unknown) {
    std::string out;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        const gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            out.push_back(unknown);  // invalid UTF-8: one byte at a time
            ++p;
            continue;
        }
        p = g_utf8_next_char(p);
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        char mapped = unknown;
        for (int i = 0; i < 32; ++i)
            if (kCp1252High[i] == c ||
                (kCp1252High[i] == 0 && c == static_cast<gunichar>(0x80 + i)))
                mapped = static_cast<char>(0x80 + i);
        out.push_back(mapped);
    }
    return out;
}

size_t CharacterCount(std::string_view text) {
    size_t count = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

}  // namespace platform
