#include "controls/link_opener.h"

#include <wx/utils.h>

#include "app/log.h"

namespace {
LinkShell& InstalledShell() {
    static LinkShell shell = DesktopLinkShell();
    return shell;
}
}  // namespace

LinkShell DesktopLinkShell() {
    return LinkShell{[](const std::string& target) {
                         return wxLaunchDefaultBrowser(wxString::FromUTF8(target));
                     },
                     [] { wxBell(); }};
}

LinkShell ReplaceLinkShell(LinkShell shell) {
    LinkShell previous = std::move(InstalledShell());
    InstalledShell() = std::move(shell);
    return previous;
}

bool OpenLinkTarget(const std::string& target) {
    LogScope scope("OpenLinkTarget", 2);
    const LinkShell& shell = InstalledShell();
    if (shell.open && shell.open(target)) return true;
    LogLine("Link refused: " + target, 2);
    if (shell.beep) shell.beep();
    return false;
}
