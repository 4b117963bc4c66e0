// The panes' sections of the profile store: path histories, last folders, and the main
// window's placement.
#pragma once

#include <string>
#include <vector>

// Names the two panes' sections: index 0 "List 0" (the PC pane), index 1 "List 1" (the
// receiver pane).
class CPreferences {
  public:
    static const CPreferences& Get();
    const std::string& Section(int side) const { return sections_[side == 0 ? 0 : 1]; }
    // Which side a section belongs to: 1 for "List 1", 0 otherwise.
    static int SideOf(const std::string& section);

  private:
    std::string sections_[2] = {"List 0", "List 1"};
};

inline constexpr int kMaxPathHistory = 15;

// Receiver folders ("C:\..."): doubled backslashes become one, and a trailing backslash is
// dropped unless the text is shorter than 4 characters, so "C:\" and "\" stay as they are.
std::string NormalizeFolderPath(std::string text);
// PC folders, with the native separator: doubled "/" become one, a trailing "/" is dropped
// except from the root "/".
std::string NormalizePcFolderPath(std::string text);
// The rule of the side the section belongs to.
std::string NormalizeSectionPath(const std::string& section, const std::string& text);

std::vector<std::string> GetPathHistory(const std::string& section);
void AddPathHistory(const std::string& section, const std::string& folder);
// `LastPath`: for "List 0" the user's documents folder by default, for "List 1" "C:\".
std::string GetLastPath(const std::string& section);

struct WindowRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};
WindowRect ReadWindowRect();
void SaveWindowRect(int left, int top, int right, int bottom);
