// The pane's own icons, from the desktop's icon theme: "..", folders, recordings (TP0), radio
// recordings (RAD) and the receiver's JUKEBOX folder. Every row's image is an index into the
// pane's image list.
#pragma once

#include <wx/imaglist.h>

inline constexpr int kPaneIconSize = 16;

struct PaneIcons {
    int up = -1;
    int folder = -1;
    int recording = -1;
    int radio = -1;
    int jukebox = -1;
};

// Appends the five icons to `images` (of kPaneIconSize) and returns their indices.
PaneIcons AddPaneIcons(wxImageList& images);

// The bitmap of the first themed icon name the theme has, else the stand-in art id.
wxBitmap ThemedBitmap(const char* const* names, const wxString& fallback);
