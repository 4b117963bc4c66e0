#include "app/preferences.h"

#include <algorithm>

#include "app/log.h"
#include "platform/profile_store.h"
#include "platform/user_folders.h"

const CPreferences& CPreferences::Get() {
    static const CPreferences preferences;
    return preferences;
}

int CPreferences::SideOf(const std::string& section) {
    return section == Get().Section(1) ? 1 : 0;
}

namespace {

std::string CollapseDoubled(std::string text, char separator) {
    const std::string doubled(2, separator);
    for (size_t at = text.find(doubled); at != std::string::npos; at = text.find(doubled, at))
        text.erase(at, 1);
    return text;
}

}  // namespace

std::string NormalizeFolderPath(std::string text) {
    text = CollapseDoubled(std::move(text), '\\');
    if (text.size() >= 4 && text.back() == '\\') text.pop_back();
    return text;
}

std::string NormalizePcFolderPath(std::string text) {
    text = CollapseDoubled(std::move(text), '/');
    if (text.size() >= 2 && text.back() == '/') text.pop_back();
    return text;
}

std::string NormalizeSectionPath(const std::string& section, const std::string& text) {
    return CPreferences::SideOf(section) == 1 ? NormalizeFolderPath(text)
                                              : NormalizePcFolderPath(text);
}

std::vector<std::string> GetPathHistory(const std::string& section) {
    platform::ProfileStore& store = platform::Profile();
    std::vector<std::string> history;
    // A count edited by hand or damaged never reads more than the history holds.
    const int count = std::clamp(store.GetInt(section, "PathHistoryCount", 0), 0, kMaxPathHistory);
    for (int n = 0; n < count; ++n)
        history.push_back(NormalizeSectionPath(
            section, store.GetString(section, "PathHistory " + FormatDec(n), "")));
    return history;
}

void AddPathHistory(const std::string& section, const std::string& folder) {
    platform::ProfileStore& store = platform::Profile();
    const std::string normalized = NormalizeSectionPath(section, folder);
    store.WriteString(section, "LastPath", normalized);
    std::vector<std::string> history = GetPathHistory(section);
    if (auto same = std::find(history.begin(), history.end(), normalized); same != history.end())
        history.erase(same);
    history.insert(history.begin(), normalized);
    if (history.size() > kMaxPathHistory) history.erase(history.begin() + kMaxPathHistory);
    store.WriteInt(section, "PathHistoryCount", static_cast<int>(history.size()));
    for (size_t n = 0; n < history.size(); ++n)
        store.WriteString(section, "PathHistory " + FormatDec(static_cast<int32_t>(n)), history[n]);
}

std::string GetLastPath(const std::string& section) {
    const std::string fallback =
        CPreferences::SideOf(section) == 1 ? std::string("C:\\") : platform::DocumentsFolder();
    return NormalizeSectionPath(section,
                                platform::Profile().GetString(section, "LastPath", fallback));
}

WindowRect ReadWindowRect() {
    platform::ProfileStore& store = platform::Profile();
    WindowRect rect;
    rect.left = store.GetInt("Settings", "Window.x1", 22);
    rect.top = store.GetInt("Settings", "Window.y1", 50);
    rect.right = store.GetInt("Settings", "Window.x2", rect.left + 980);
    rect.bottom = store.GetInt("Settings", "Window.y2", rect.top + 630);
    return rect;
}

void SaveWindowRect(int left, int top, int right, int bottom) {
    platform::ProfileStore& store = platform::Profile();
    store.WriteInt("Settings", "Window.x1", left);
    store.WriteInt("Settings", "Window.y1", top);
    store.WriteInt("Settings", "Window.x2", right);
    store.WriteInt("Settings", "Window.y2", bottom);
}
