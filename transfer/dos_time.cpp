#include "transfer/dos_time.h"

#include <algorithm>
#include <ctime>

#include "panes/entry_text.h"
#include "platform/pc_files.h"
#include "pvrdisk/pcfm.h"

void PackDosTime(int64_t time, uint16_t* time_word, uint16_t* date_word) {
    std::tm local{};
    if (!platform::LocalCalendar(time, &local)) local = std::tm{};
    const int year = std::clamp(local.tm_year + 1900 - 1980, 0, 127);
    *time_word = static_cast<uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    *date_word = static_cast<uint16_t>(year << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
}

int64_t EntryTimeOf(const pcfm_dirent& e) {
    return LocalTimeOf(e.year, e.month == 0 ? 1 : e.month, e.day == 0 ? 1 : e.day, e.hour, e.minute,
                       e.second);
}
