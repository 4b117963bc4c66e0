// The per-user folders the program keeps its files in.
#pragma once

#include <string>

namespace platform {

// Where the log files go by default: the XDG state folder ($XDG_STATE_HOME, else
// ~/.local/state) followed by "Orvane/OV Tessel USB/Logfiles".
std::string DefaultLogFolder();

// The folder of the settings file: the XDG config folder followed by "Orvane/OV Tessel USB".
std::string ConfigFolder();

// The user's documents folder (XDG), or the home folder when none is set up.
std::string DocumentsFolder();

}  // namespace platform
