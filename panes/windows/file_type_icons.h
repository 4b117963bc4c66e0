// PC files' icons by their type: the desktop's content type guessed from the name alone (the
// disk is not touched), its themed icon, added once per type to the pane's image list.
#pragma once

#include <wx/imaglist.h>

#include <map>
#include <string>

class CFileTypeIcons {
  public:
    // `images` is the pane's image list; it must outlive this object.
    explicit CFileTypeIcons(wxImageList& images) : images_(images) {}

    // The image index for a file of this name.
    int IconFor(const std::string& name);
    // The content type the icon was chosen by ("video/mp4", "application/octet-stream").
    static std::string ContentTypeOf(const std::string& name);

  private:
    int AddIconOf(const std::string& content_type);

    wxImageList& images_;
    std::map<std::string, int> index_of_type_;
};
