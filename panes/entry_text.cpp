#include "panes/entry_text.h"

#include <ctime>

#include "app/log.h"
#include "app/string_table.h"
#include "platform/pc_files.h"
#include "platform/text.h"

std::string DisplayName(const std::string& name) {
    const size_t at = name.find("&&");
    if (at == std::string::npos || at == 0) return name;
    return name.substr(at + 2);
}

void SplitPcName(const std::string& name, std::string* title, std::string* extension) {
    // UTF-8 never has a "." inside a multibyte character, so a byte search is a character search.
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos &&
        platform::CharacterCount(std::string_view(name).substr(0, dot)) >= 3) {
        *title = name.substr(0, dot);
        *extension = platform::UpperCase(name.substr(dot + 1));
    } else {
        *title = name;
        extension->clear();
    }
}

std::string ColumnText(const CDirEntry& entry, int column) {
    switch (column) {
        case 0:
            return DisplayName(entry.name);
        case 1:
            return entry.epgTitle;
        case 2:
            return entry.isFile ? FormatSize(entry.size) : "<DIR>";
        case 3:
            return entry.extension;
        case 4: {
            std::tm local{};
            if (!platform::LocalCalendar(entry.time, &local)) return "";
            char text[128];
            const size_t n = std::strftime(text, sizeof text, LoadResString(127).c_str(), &local);
            return std::string(text, n);
        }
        default:
            return "";
    }
}

std::string DecodeEpgTitle(std::string_view bytes_read) {
    std::string title;
    for (size_t i = 4; i < bytes_read.size() && i < kEpgTitleBytes && bytes_read[i] != '\0'; ++i)
        title.push_back(bytes_read[i]);
    struct Sequence {
        std::string_view coded;
        char cp1252;
    };
    static constexpr Sequence kSequences[] = {
        {"\x02\x66\x01", '\xF6'}, {"\x02\x54\x01", '\xE4'}, {"\x02\x6C\x01", '\xFC'},
        {"\x02\x4F\x01", '\xDF'}, {"\x14\x01", '\xC4'},     {"\x02\x46\x01", '\xD6'},
    };
    for (const Sequence& s : kSequences)
        for (size_t at = title.find(s.coded); at != std::string::npos;
             at = title.find(s.coded, at + 1))
            title.replace(at, s.coded.size(), 1, s.cp1252);
    // The title is broadcast text in the receiver's code page; inside the program it is UTF-8.
    return platform::Cp1252ToUtf8(title);
}

int64_t LocalTimeOf(int year, int month, int day, int hour, int minute, int second) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&fields));
}
