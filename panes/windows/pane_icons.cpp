#include "panes/windows/pane_icons.h"

#include <wx/artprov.h>

wxBitmap ThemedBitmap(const char* const* names, const wxString& fallback) {
    const wxSize size(kPaneIconSize, kPaneIconSize);
    for (; *names != nullptr; ++names) {
        // wxArtProvider on GTK takes icon names of the theme beside its own ids.
        const wxBitmap bitmap = wxArtProvider::GetBitmap(*names, wxART_LIST, size);
        if (bitmap.IsOk()) return bitmap;
    }
    return wxArtProvider::GetBitmap(fallback, wxART_LIST, size);
}

PaneIcons AddPaneIcons(wxImageList& images) {
    static const char* const kUp[] = {"go-up", nullptr};
    static const char* const kFolder[] = {"folder", nullptr};
    static const char* const kRecording[] = {"video-x-generic", nullptr};
    static const char* const kRadio[] = {"audio-x-generic", nullptr};
    static const char* const kJukebox[] = {"folder-music", "folder", nullptr};
    PaneIcons icons;
    icons.up = images.Add(ThemedBitmap(kUp, wxART_GO_UP));
    icons.folder = images.Add(ThemedBitmap(kFolder, wxART_FOLDER));
    icons.recording = images.Add(ThemedBitmap(kRecording, wxART_NORMAL_FILE));
    icons.radio = images.Add(ThemedBitmap(kRadio, wxART_NORMAL_FILE));
    icons.jukebox = images.Add(ThemedBitmap(kJukebox, wxART_FOLDER));
    return icons;
}
