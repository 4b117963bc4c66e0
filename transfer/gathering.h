// A selection with the contents of its folders, folder by folder: a folder's direct children
// together, then each child folder's contents after them. Whatever cannot be taken is said:
// a folder that cannot be read, a name the receiver's paths cannot address, a folder reached
// a second time (a damaged disk may link folders into each other; each is taken once), a PC
// entry that is a symbolic link or neither a regular file nor a folder.
#pragma once

#include <string>
#include <vector>

#include "panes/dir_entry.h"

struct GatherProblem {
    std::string path;
    std::string reason;
};
using GatherProblems = std::vector<GatherProblem>;

void GatherReceiverFolder(const std::string& folder, CDirList* gathered, GatherProblems* problems);
void GatherPcFolder(const std::string& folder, CDirList* gathered, GatherProblems* problems);

// The selected records (".." left out), followed by the contents of the selected folders.
CDirList GatherSelection(const CDirList& selected, bool receiver_side,
                         GatherProblems* problems = nullptr);
