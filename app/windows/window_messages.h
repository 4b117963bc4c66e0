// The managers' messages to the user, shown in the program's message box.
#pragma once

#include <wx/window.h>

#include "transfer/user_messages.h"

class WindowMessages final : public UserMessages {
  public:
    // Boxes are centred on `parent` while it is set.
    void SetParent(wxWindow* parent) { parent_ = parent; }
    void ShowWarning(const std::string& text, const std::string& caption) override;

  private:
    wxWindow* parent_ = nullptr;
};
