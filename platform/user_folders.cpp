#include "platform/user_folders.h"

#include <glib.h>

#include <cstdlib>

namespace platform {

namespace {
constexpr const char* kVendorAndProduct = "Orvane/OV Tessel USB";

std::string StateHome() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return state;
    return std::string(g_get_home_dir()) + "/.local/state";
}
}  // namespace

std::string DefaultLogFolder() {
    return StateHome() + "/" + kVendorAndProduct + "/Logfiles";
}

std::string ConfigFolder() {
    // Read the variable at every call so that tests may point it elsewhere.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string base = (config != nullptr && config[0] == '/')
                                 ? std::string(config)
                                 : std::string(g_get_home_dir()) + "/.config";
    return base + "/" + kVendorAndProduct;
}

std::string DocumentsFolder() {
    const char* documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    if (documents != nullptr && documents[0] != '\0') return documents;
    return g_get_home_dir();
}

}  // namespace platform
