// The status bar's line about a pane's selection: how many entries are selected and how much
// their files hold.
#pragma once

#include <cstdint>
#include <string>

// `count` selected rows (folders included) and `total_kib` the sum of their files' sizes, each
// cut to whole KiB first. Empty for no selection; otherwise the line from the string table
// (GByte from 1 048 576 KiB, MByte from 1024 KiB, KByte below) and a line break after it.
std::string SelectionSummary(unsigned count, uint64_t total_kib);
