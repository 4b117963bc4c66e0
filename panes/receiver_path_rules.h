// How the receiver pane's folder changes: the root is "C:\", and no other folder ends in "\".
#pragma once

#include <string>

inline constexpr const char* kReceiverRoot = "C:\\";

// The folder a path is taken as: doubled "\" made one and a trailing "\" dropped, except
// from the root ("C:\REC\" and "C:\\REC" give "C:\REC").
std::string ReceiverFolderOf(const std::string& path);
// One folder up: the last "\" and what follows go; "C:" becomes the root; the root stays.
std::string ReceiverFolderUp(const std::string& folder);
// The folder `name` inside `folder`.
std::string ReceiverFolderInto(const std::string& folder, const std::string& name);
