// A selection with the contents of its folders, folder by folder: a folder's direct children
// together, then each child folder's contents after them. Folders that cannot be opened add
// nothing.
#pragma once

#include <string>

#include "panes/dir_entry.h"

void GatherReceiverFolder(const std::string& folder, CDirList* gathered);
void GatherPcFolder(const std::string& folder, CDirList* gathered);

// The selected records (".." left out), followed by the contents of the selected folders.
CDirList GatherSelection(const CDirList& selected, bool receiver_side);
