// A dialog's controls from one table, as a resource template holds them: kind, id, rectangle
// in dialog units and text. The table is converted to pixels once, by the dialog's font.
#pragma once

#include <wx/dialog.h>
#include <wx/gdicmn.h>

#include <string>
#include <vector>

enum class ControlKind {
    kLabel,
    kNote,
    kCheckBox,
    kChoice,
    kReadOnlyText,
    kButton,
    kDefaultButton
};

struct ControlSpec {
    ControlKind kind;
    int id;
    wxRect units;  // left, top, width, height in dialog units
    std::string text;
};

// Creates the controls of `table` on `dialog`, sizes its client area to `client_units`, and
// returns the controls in table order.
std::vector<wxWindow*> BuildFromTemplate(wxDialog* dialog, const std::vector<ControlSpec>& table,
                                         wxSize client_units);
