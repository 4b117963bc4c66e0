#include "platform/shell_open.h"

#include <gio/gio.h>

#include <mutex>

namespace platform {

namespace {
std::mutex g_mutex;
std::function<bool(const std::string&)> g_opener;

bool OpenWithDesktop(const std::string& target) {
    // A path becomes a file URI; anything with a scheme ("https:", "man:") is passed on.
    GFile* file = g_file_new_for_commandline_arg(target.c_str());
    char* uri = g_file_get_uri(file);
    g_object_unref(file);
    GError* error = nullptr;
    const bool opened = g_app_info_launch_default_for_uri(uri, nullptr, &error) != FALSE;
    if (error != nullptr) g_error_free(error);
    g_free(uri);
    return opened;
}
}  // namespace

bool ShellOpen(const std::string& target) {
    std::function<bool(const std::string&)> opener;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        opener = g_opener;
    }
    return opener ? opener(target) : OpenWithDesktop(target);
}

void SetShellOpener(std::function<bool(const std::string&)> opener) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_opener = std::move(opener);
}

}  // namespace platform
