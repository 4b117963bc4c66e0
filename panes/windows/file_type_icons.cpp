#include "panes/windows/file_type_icons.h"

#include <gio/gio.h>
#include <wx/artprov.h>

#include <vector>

#include "panes/windows/pane_icons.h"

std::string CFileTypeIcons::ContentTypeOf(const std::string& name) {
    gboolean uncertain = FALSE;
    char* type = g_content_type_guess(name.c_str(), nullptr, 0, &uncertain);
    std::string result = type != nullptr ? type : "application/octet-stream";
    g_free(type);
    return result;
}

int CFileTypeIcons::IconFor(const std::string& name) {
    const std::string type = ContentTypeOf(name);
    const auto found = index_of_type_.find(type);
    if (found != index_of_type_.end()) return found->second;
    const int index = AddIconOf(type);
    index_of_type_.emplace(type, index);
    return index;
}

int CFileTypeIcons::AddIconOf(const std::string& content_type) {
    std::vector<std::string> names;
    GIcon* icon = g_content_type_get_icon(content_type.c_str());
    if (icon != nullptr && G_IS_THEMED_ICON(icon)) {
        // The names run from the most particular ("video-mp4") to the generic fallbacks.
        const gchar* const* themed = g_themed_icon_get_names(G_THEMED_ICON(icon));
        for (; themed != nullptr && *themed != nullptr; ++themed) names.emplace_back(*themed);
    }
    if (icon != nullptr) g_object_unref(icon);
    std::vector<const char*> list;
    for (const std::string& name : names) list.push_back(name.c_str());
    list.push_back("text-x-generic");
    list.push_back(nullptr);
    return images_.Add(ThemedBitmap(list.data(), wxART_NORMAL_FILE));
}
