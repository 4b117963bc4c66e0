#include "app/windows/dlg_settings.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/textctrl.h>

#include "app/log.h"
#include "app/windows/dialog_template.h"
#include "platform/shell_open.h"

namespace {
const std::vector<ControlSpec>& Template() {
    using K = ControlKind;
    static const std::vector<ControlSpec> table = {
        {K::kLabel, wxID_ANY, {7, 8, 90, 10}, "Transfer Buffer Size"},
        {K::kChoice, CDlgSettings::kIdBufferSize, {100, 6, 60, 14}, ""},
        {K::kNote,
         wxID_ANY,
         {7, 24, 266, 18},
         "The larger the transfer buffer is the faster a file is copied. On some systems a "
         "buffer value too high might lead to instability."},
        {K::kCheckBox,
         CDlgSettings::kIdKeepEqual,
         {7, 46, 266, 10},
         "Keep existing, equal files (never overwrite)"},
        {K::kNote,
         wxID_ANY,
         {19, 58, 254, 26},
         "If a file is found on destination drive keep it, if it has the same filename, "
         "filesize and filedate/time. Files having the same filename will still be asked to "
         "be overwritten."},
        {K::kCheckBox,
         CDlgSettings::kIdAutoResume,
         {7, 88, 266, 10},
         "Automatically resume transfer of partially copied files"},
        {K::kNote,
         wxID_ANY,
         {19, 100, 254, 18},
         "If patially transferred files are found they can be resumed if: the filename is the "
         "same and the first MByte of data is equal for both files."},
        {K::kCheckBox,
         CDlgSettings::kIdShowSummary,
         {7, 122, 266, 10},
         "Show summary after transfer of files"},
        {K::kNote,
         wxID_ANY,
         {19, 134, 254, 18},
         "Shows a summary which files have been copied, overwritten, skipped or resumed during "
         "a transfer."},
        {K::kLabel, wxID_ANY, {7, 160, 90, 10}, "Log level"},
        {K::kChoice, CDlgSettings::kIdLogLevel, {100, 158, 120, 14}, ""},
        {K::kLabel, wxID_ANY, {7, 178, 90, 10}, "Log folder"},
        {K::kReadOnlyText, CDlgSettings::kIdLogFolder, {7, 190, 206, 14}, ""},
        {K::kButton, CDlgSettings::kIdExplore, {217, 190, 56, 14}, "&Explore..."},
        {K::kDefaultButton, wxID_OK, {161, 214, 54, 14}, "OK"},
        {K::kButton, wxID_CANCEL, {219, 214, 54, 14}, "Cancel"},
    };
    return table;
}

wxArrayString Entries(const std::vector<std::string>& texts) {
    wxArrayString entries;
    for (const std::string& text : texts) entries.Add(wxString::FromUTF8(text));
    return entries;
}
}  // namespace

CDlgSettings::CDlgSettings(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Settings"), form_(LoadSettingsForm()) {
    BuildFromTemplate(this, Template(), wxSize(280, 236));
    buffer_ = static_cast<wxChoice*>(FindWindow(kIdBufferSize));
    log_level_ = static_cast<wxChoice*>(FindWindow(kIdLogLevel));
    keep_equal_ = static_cast<wxCheckBox*>(FindWindow(kIdKeepEqual));
    auto_resume_ = static_cast<wxCheckBox*>(FindWindow(kIdAutoResume));
    show_summary_ = static_cast<wxCheckBox*>(FindWindow(kIdShowSummary));

    buffer_->Set(Entries(form_.buffer_entries));
    buffer_->SetSelection(form_.buffer_selection);
    log_level_->Set(Entries(form_.log_level_entries));
    log_level_->SetSelection(form_.log_level_selection);
    static_cast<wxTextCtrl*>(FindWindow(kIdLogFolder))
        ->ChangeValue(wxString::FromUTF8(form_.log_folder));
    keep_equal_->SetValue(form_.keep_equal_files);
    auto_resume_->SetValue(form_.auto_resume_files);
    show_summary_->SetValue(form_.show_transfer_summary);

    Bind(wxEVT_BUTTON, &CDlgSettings::OnOK, this, wxID_OK);
    Bind(wxEVT_BUTTON, &CDlgSettings::OnBnClickedBtExplore, this, kIdExplore);
    CentreOnParent();
}

void CDlgSettings::OnOK(wxCommandEvent&) {
    form_.buffer_selection = buffer_->GetSelection();
    form_.log_level_selection = log_level_->GetSelection();
    form_.keep_equal_files = keep_equal_->GetValue();
    form_.auto_resume_files = auto_resume_->GetValue();
    form_.show_transfer_summary = show_summary_->GetValue();
    SaveSettingsForm(form_);
    EndModal(wxID_OK);
}

void CDlgSettings::OnBnClickedBtExplore(wxCommandEvent&) {
    LogScope scope("CDlgSettings::OnBnClickedBtExplore", 2);
    // The folder in the file manager, then the current log in the text editor; a failure of
    // either is not reported.
    platform::ShellOpen(form_.log_folder);
    if (GetLogLevel() > 0 && !GetLogFilePath().empty()) platform::ShellOpen(GetLogFilePath());
}
