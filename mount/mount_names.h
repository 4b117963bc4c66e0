// The names a receiver folder shows in the mounted folder, and which new names the mount
// takes. Each entry shows under the name a copy to the PC would give it; two entries that
// would meet at one name are told apart as a copy tells them apart ("name (2).ext").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MountEntry {
    std::string receiver_name;  // the name as the receiver file system takes it back (UTF-8)
    std::string pc_name;        // the name in the mounted folder, unique in its folder
    bool directory = false;
    uint64_t size = 0;
    int64_t time = 0;  // seconds since 1970
};

// Gives each entry its pc_name, folders first and then files, in the order given.
void AssignPcNames(std::vector<MountEntry>* entries);

// Why `name` cannot be made as a new file (or folder) in the mounted folder; empty when it
// can. A new name is taken only when the receiver stores it unchanged and the folder then
// shows it unchanged, so that what was made is found under the name it was made with:
// printable ASCII, at most 32 characters before an extension of at most 3, none of
// " \ * ? : < > | /, and for a folder no dot.
std::string NewNameProblem(const std::string& name, bool directory);
