// Which entry of the receiver's disk a path names, whatever its spelling ("C:/X/a.ts",
// "C:\X\.\a.ts", a component longer than the 32 characters that count): two paths name one
// entry when their identities are equal.
#pragma once

#include <cstdint>

struct ReceiverEntryId {
    bool root = false;               // the root folder itself
    uint32_t directory_cluster = 0;  // the folder that holds the entry
    uint32_t entry_index = 0;        // its slot there
    uint32_t first_cluster = 0;      // the entry's chain; for a folder, the folder itself
    bool directory = false;
    char name[33] = {};  // the entry's name and extension as pcfm_readdir gives them
    char extension[4] = {};

    bool operator==(const ReceiverEntryId& other) const {
        return root == other.root && (root || (directory_cluster == other.directory_cluster &&
                                               entry_index == other.entry_index));
    }
};

// Resolves a path in the receiver's bytes (file or folder); false with pcfm_errno set when it
// names nothing.
bool IdentifyReceiverEntry(const char* path, ReceiverEntryId* id);
