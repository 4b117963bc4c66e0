#include "app/windows/about_dlg.h"

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "app/log.h"
#include "app/string_table.h"
#include "controls/color_static_st.h"
#include "controls/png_image.h"

namespace {
constexpr int kStringAbout = 115;
constexpr int kStringName = 123;
constexpr int kStringVersion = 124;

wxPoint Units(wxDialog* dialog, int x, int y) {
    return dialog->ConvertDialogToPixels(wxPoint(x, y));
}
wxSize UnitSize(wxDialog* dialog, int w, int h) {
    return dialog->ConvertDialogToPixels(wxSize(w, h));
}
}  // namespace

CAboutDlg::CAboutDlg(wxWindow* parent, bool splash)
    : wxDialog(parent, wxID_ANY, "About OV Tessel USB"),
      splash_(splash),
      timer_(this, kSplashTimerId) {
    LogScope scope("CAboutDlg::OnInitDialog", 3);
    new wxStaticBitmap(this, wxID_ANY, wxBitmap(ArtworkImage(ArtworkId::kProgramIcon48)),
                       Units(this, 7, 7));
    const wxString version =
        wxString::FromUTF8(LoadResString(kStringName) + " " + LoadResString(kStringVersion));
    auto* name =
        new wxStaticText(this, kIdVersion, version, Units(this, 40, 8), UnitSize(this, 180, 10));
    name->SetFont(name->GetFont().Bold());
    new CColorStaticST(this, kIdSlogan, wxString::FromUTF8("Your recordings, on your PC."),
                       Units(this, 40, 22), UnitSize(this, 180, 10));
    auto* text =
        new CColorStaticST(this, kIdAboutText, wxString::FromUTF8(LoadResString(kStringAbout)),
                           Units(this, 40, 36), UnitSize(this, 180, 50));
    // Links are live only in black text; the desktop's text colour may be a dark grey.
    text->SetTextColor(*wxBLACK);
    auto* ok = new wxButton(this, wxID_OK, "Ok", Units(this, 173, 92), UnitSize(this, 50, 14));
    ok->SetDefault();
    SetClientSize(UnitSize(this, 230, 113));
    Bind(wxEVT_TIMER, &CAboutDlg::OnTimer, this, kSplashTimerId);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { CloseAsOk(); }, wxID_OK);
    if (splash_) timer_.StartOnce(kSplashMilliseconds);
    CentreOnScreen();
}

void CAboutDlg::OnTimer(wxTimerEvent&) {
    LogScope scope("CAboutDlg::OnTimer", 3);
    CloseAsOk();
}

void CAboutDlg::CloseAsOk() {
    timer_.Stop();
    if (IsModal()) {
        EndModal(wxID_OK);
    } else {
        Destroy();
    }
}
