#include "app/windows/ov_usb_dlg.h"

#include <wx/button.h>
#include <wx/stattext.h>

#include "app/log.h"
#include "app/settings.h"
#include "app/string_table.h"
#include "app/windows/about_dlg.h"
#include "app/windows/dlg_settings.h"

COV_USBDlg::COV_USBDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(LoadResString(123) + " " + LoadResString(124)),
               wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      transfer_buffer_size_(settings::BufferSize()) {
    LogScope scope("COV_USBDlg::OnInitDialog", 1);
    auto* note = new wxStaticText(
        this, wxID_ANY,
        "This is a placeholder for the main window: the two panes (PC and receiver) and the "
        "transfers are not built into this window yet. Use the tessel command line for "
        "transfers meanwhile.",
        ConvertDialogToPixels(wxPoint(7, 7)), ConvertDialogToPixels(wxSize(250, 30)));
    note->Wrap(ConvertDialogToPixels(wxSize(250, 0)).x);
    new wxButton(this, kIdSettings, "&Settings", ConvertDialogToPixels(wxPoint(7, 44)),
                 ConvertDialogToPixels(wxSize(60, 14)));
    new wxButton(this, kIdAbout, "&About", ConvertDialogToPixels(wxPoint(71, 44)),
                 ConvertDialogToPixels(wxSize(60, 14)));
    SetClientSize(ConvertDialogToPixels(wxSize(264, 66)));
    Bind(wxEVT_BUTTON, &COV_USBDlg::OnBnClickedBtSettings, this, kIdSettings);
    Bind(wxEVT_BUTTON, &COV_USBDlg::OnBnClickedBtAbout, this, kIdAbout);
    Bind(wxEVT_CHAR_HOOK, &COV_USBDlg::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &COV_USBDlg::OnClose, this);
    // Help requests show the About box: the program has no help file.
    Bind(wxEVT_HELP, [this](wxHelpEvent&) {
        wxCommandEvent about;
        OnBnClickedBtAbout(about);
    });
    CentreOnScreen();
}

void COV_USBDlg::OnBnClickedBtSettings(wxCommandEvent&) {
    LogScope scope("COV_USBDlg::OnBnClickedBtSettings", 2);
    CDlgSettings dialog(this);
    if (dialog.ShowModal() == wxID_OK) transfer_buffer_size_ = settings::BufferSize();
}

void COV_USBDlg::OnBnClickedBtAbout(wxCommandEvent&) {
    LogScope scope("COV_USBDlg::OnBnClickedBtAbout", 2);
    CAboutDlg about(this, false);
    about.ShowModal();
}

void COV_USBDlg::OnCharHook(wxKeyEvent& event) {
    // Escape does not close the main window; only the close command does.
    if (event.GetKeyCode() == WXK_ESCAPE) return;
    if (event.GetKeyCode() == WXK_F1) {
        wxCommandEvent about;
        OnBnClickedBtAbout(about);
        return;
    }
    event.Skip();
}

void COV_USBDlg::OnClose(wxCloseEvent&) {
    LogScope scope("COV_USBDlg::OnClose", 1);
    EndModal(wxID_CANCEL);
}
