// The texts a pane shows for a record, and the parts of a record formed from names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "panes/dir_entry.h"

// A name with "&&" after its first character shows only what follows the first "&&":
// 001&&News.TP0 shows as News.TP0.
std::string DisplayName(const std::string& name);

// Splits a PC name at its last "." when at least three characters stand before it: abc.txt
// gives abc and TXT; ab.txt, .profile and archive have no extension.
void SplitPcName(const std::string& name, std::string* title, std::string* extension);

// The five columns: 0 display name, 1 programme title, 2 size or "<DIR>", 3 extension,
// 4 date "%Y-%m-%d %H:%M" in local time.
std::string ColumnText(const CDirEntry& entry, int column);

// Where a recording keeps its programme title: 40 bytes read here, the title from the fifth.
inline constexpr uint64_t kEpgTitleOffset = 288332;
inline constexpr size_t kEpgTitleBytes = 40;
// The title held in the 40 bytes read at kEpgTitleOffset: from the fifth byte to the first
// zero byte, the broadcast coding's umlaut sequences replaced, as UTF-8.
std::string DecodeEpgTitle(std::string_view bytes_read);

// Seconds since 1970 of local calendar fields (the system's daylight-saving rule applies).
int64_t LocalTimeOf(int year, int month, int day, int hour, int minute, int second);
