// How a clicked link is opened: by the desktop's browser, or by a stand-in a test installs.
// A refused link beeps.
#pragma once

#include <functional>
#include <string>

struct LinkShell {
    std::function<bool(const std::string& target)> open;  // true when the target was opened
    std::function<void()> beep;                           // tells the user it was refused
};

// The desktop's browser (wxLaunchDefaultBrowser) and the system bell (wxBell).
LinkShell DesktopLinkShell();
// Installs `shell` and returns the one it replaces.
LinkShell ReplaceLinkShell(LinkShell shell);

// Opens `target` through the installed shell; beeps and returns false when it refuses.
bool OpenLinkTarget(const std::string& target);
