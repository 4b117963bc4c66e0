// The order of a pane's rows, and the sort state each pane keeps in its profile section.
#pragma once

#include <string>

#include "panes/dir_entry.h"

struct SortState {
    int column = 0;  // 0 to 4, as the columns of ColumnText
    int order = 1;   // nonzero ascending, 0 descending
};

// Folders first, in ascending name order whatever the sort; files by the sort column and
// order. Negative puts `a` first. While a new folder is being named every pair is equal, so
// that sorting leaves the rows as they are. A missing record goes first.
int CompareEntries(const CDirEntry* a, const CDirEntry* b, const SortState& state,
                   bool new_folder_mode);

// The pane's stored state: `SortColumn` and "SortOrder " + that column.
SortState LoadSortState(const std::string& section);

// A click on column `column`: the same column turns its order round, another column brings
// back the order it had; the new state is stored and returned.
SortState ClickColumn(const std::string& section, const SortState& current, int column);
