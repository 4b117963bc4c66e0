#include "app/windows/dialog_template.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

std::vector<wxWindow*> BuildFromTemplate(wxDialog* dialog, const std::vector<ControlSpec>& table,
                                         wxSize client_units) {
    std::vector<wxWindow*> controls;
    for (const ControlSpec& spec : table) {
        const wxPoint at = dialog->ConvertDialogToPixels(spec.units.GetPosition());
        const wxSize size = dialog->ConvertDialogToPixels(spec.units.GetSize());
        const wxString text = wxString::FromUTF8(spec.text);
        wxWindow* control = nullptr;
        switch (spec.kind) {
            case ControlKind::kLabel:
                control = new wxStaticText(dialog, spec.id, text, at, size);
                break;
            case ControlKind::kNote: {
                auto* note = new wxStaticText(dialog, spec.id, text, at, size);
                note->Wrap(size.x);
                control = note;
                break;
            }
            case ControlKind::kCheckBox:
                control = new wxCheckBox(dialog, spec.id, text, at, size);
                break;
            case ControlKind::kChoice:
                control = new wxChoice(dialog, spec.id, at, wxSize(size.x, -1));
                break;
            case ControlKind::kReadOnlyText:
                control = new wxTextCtrl(dialog, spec.id, text, at, size, wxTE_READONLY);
                break;
            case ControlKind::kButton:
            case ControlKind::kDefaultButton: {
                auto* button = new wxButton(dialog, spec.id, text, at, size);
                if (spec.kind == ControlKind::kDefaultButton) button->SetDefault();
                control = button;
                break;
            }
        }
        controls.push_back(control);
    }
    dialog->SetClientSize(dialog->ConvertDialogToPixels(client_units));
    return controls;
}
