// One receiver folder read for the mount: its folders and files, with sizes and times, named
// as the receiver pane's listing names them.
#pragma once

#include <string>
#include <vector>

#include "mount/mount_names.h"

// Reads `folder` ("C:\", "C:\Films") and gives every entry its pc_name. 0, or the file
// system's error code (pcfm_errno) when the folder cannot be opened.
int ReadReceiverFolder(const std::string& folder, std::vector<MountEntry>* entries);

// "C:\" and "Films" give "C:\Films"; "C:\Films" and "News.TS" give "C:\Films\News.TS".
std::string JoinReceiverPath(const std::string& folder, const std::string& name);
