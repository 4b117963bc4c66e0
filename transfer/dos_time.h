// The receiver's time and date words: hour x 2048 + minute x 32 + second / 2, and
// (year - 1980) x 512 + month x 32 + day, in local time.
#pragma once

#include <cstdint>

struct pcfm_dirent;

// The words of a time (seconds since 1970); years outside 1980..2107 are clamped.
void PackDosTime(int64_t time, uint16_t* time_word, uint16_t* date_word);
// The time of a directory entry as read (a month or day of 0 taken as 1).
int64_t EntryTimeOf(const pcfm_dirent& entry);
