#include "panes/receiver_path_rules.h"

#include "app/preferences.h"

std::string ReceiverFolderOf(const std::string& path) {
    return NormalizeFolderPath(path + "\\");
}

std::string ReceiverFolderUp(const std::string& folder) {
    if (folder == kReceiverRoot) return folder;
    const size_t last = folder.rfind('\\');
    if (last == std::string::npos) return kReceiverRoot;
    const std::string up = folder.substr(0, last);
    return up == "C:" ? kReceiverRoot : up;
}

std::string ReceiverFolderInto(const std::string& folder, const std::string& name) {
    return folder == kReceiverRoot ? folder + name : folder + "\\" + name;
}
