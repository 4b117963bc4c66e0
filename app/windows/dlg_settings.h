// The settings dialog: transfer buffer size, the three transfer options, log level and the
// log folder. It shows what LoadSettingsForm() read and stores on OK through
// SaveSettingsForm(); Cancel writes nothing.
#pragma once

#include <wx/dialog.h>

#include "app/settings_form.h"

class wxCheckBox;
class wxChoice;

class CDlgSettings : public wxDialog {
  public:
    explicit CDlgSettings(wxWindow* parent);

    // Control ids of the dialog.
    enum : int {
        kIdBufferSize = 1001,
        kIdKeepEqual = 1002,
        kIdAutoResume = 1003,
        kIdShowSummary = 1004,
        kIdLogLevel = 1005,
        kIdLogFolder = 1006,
        kIdExplore = 1007,
    };

  private:
    void OnOK(wxCommandEvent& event);
    void OnBnClickedBtExplore(wxCommandEvent& event);

    SettingsForm form_;
    wxChoice* buffer_ = nullptr;
    wxChoice* log_level_ = nullptr;
    wxCheckBox* keep_equal_ = nullptr;
    wxCheckBox* auto_resume_ = nullptr;
    wxCheckBox* show_summary_ = nullptr;
};
