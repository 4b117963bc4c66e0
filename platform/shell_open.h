// Opening a folder, a file or an address with the desktop's default application.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Opens `target` (a path or a URI) with the default handler of its type; false when there is
// none or it failed to start. Does not wait for the application.
bool ShellOpen(const std::string& target);

// Replaces what ShellOpen does, for tests that record what would be opened; an empty function
// puts the desktop back.
void SetShellOpener(std::function<bool(const std::string&)> opener);

}  // namespace platform
