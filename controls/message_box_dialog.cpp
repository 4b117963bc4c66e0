#include "controls/message_box_dialog.h"

#include <wx/app.h>
#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcclient.h>
#include <wx/display.h>
#include <wx/statbmp.h>
#include <wx/utils.h>

#include <algorithm>

#include "app/log.h"
#include "app/string_table.h"
#include "controls/color_static_st.h"
#include "controls/window_text.h"

using namespace message_box;

namespace {
// Margin and gap of the box, in dialog units.
constexpr int kMargin = 8;
constexpr int kGap = 4;
constexpr int kCheckBoxDrop = kMargin + kGap;
constexpr int kButtonMinWidth = 40, kButtonMinHeight = 14;
constexpr int kButtonPadX = 4, kButtonPadY = 1;
constexpr int kCheckBoxIndent = 14;  // room for the box itself beside its text
// Pixels of the screen kept for the caption, the check box and the buttons below the message.
constexpr int kRoomBelowMessage = 200;

wxString Wx(const std::string& text) {
    return WindowText(text);
}
}  // namespace

CMessageBoxDialog::CMessageBoxDialog(wxWindow* parent, const std::string& message,
                                     const std::string& title, uint32_t style, int32_t help_id)
    : wxDialog(
          parent, wxID_ANY, title.empty() ? wxTheApp->GetAppDisplayName() : Wx(title),
          wxDefaultPosition, wxDefaultSize,
          wxCAPTION | wxSYSTEM_MENU | ((style & (kSystemModal | kTopMost)) ? wxSTAY_ON_TOP : 0)),
      message_(message),
      style_(style),
      help_id_(help_id),
      plan_(PlanFor(style)) {
    SetHelpText(help_id != 0 ? wxString::Format("%d", help_id) : wxString());
}

int CMessageBoxDialog::DoModal() {
    LogScope scope("CMessageBoxDialog::DoModal", 3);
    if (style_ & (kDoNotShowAgain | kDoNotAskAgain)) {
        if (value_name_.empty()) value_name_ = ValueName(message_, help_id_);
        if (auto answer = AnswerWithoutShowing(style_, value_name_, stored_result_)) return *answer;
    }
    BuildControls();
    return ShowModal();
}

wxWindow* CMessageBoxDialog::ButtonFor(int command) const {
    for (wxWindow* button : buttons_)
        if (button->GetId() == command) return button;
    return nullptr;
}

wxBitmap CMessageBoxDialog::ChooseIcon() const {
    if (own_icon_.IsOk()) return own_icon_;
    switch (plan_.icon) {
        case kIconStop:
            return wxArtProvider::GetBitmap(wxART_ERROR, wxART_MESSAGE_BOX);
        case kIconQuestion:
            return wxArtProvider::GetBitmap(wxART_QUESTION, wxART_MESSAGE_BOX);
        case kIconExclamation:
            return wxArtProvider::GetBitmap(wxART_WARNING, wxART_MESSAGE_BOX);
        case kIconInformation:
            return wxArtProvider::GetBitmap(wxART_INFORMATION, wxART_MESSAGE_BOX);
        default:
            return wxNullBitmap;
    }
}

void CMessageBoxDialog::BuildControls() {
    per_1000_ = ConvertDialogToPixels(wxSize(1000, 1000));
    const wxBitmap icon = ChooseIcon();
    wxStaticBitmap* icon_control = icon.IsOk() ? new wxStaticBitmap(this, wxID_ANY, icon) : nullptr;

    message_control_ = new CColorStaticST(this, wxID_ANY, Wx(message_));
    message_control_->SetFont(GetFont());
    if (style_ & kRightToLeft) message_control_->SetLayoutDirection(wxLayout_RightToLeft);

    if (plan_.check_box_text != 0) {
        check_box_ = new wxCheckBox(this, kIdCheckBox, Wx(LoadResString(plan_.check_box_text)));
        check_box_->SetValue(plan_.check_box_ticked);
    }
    for (const Button& button : plan_.buttons) {
        auto* control = new wxButton(this, button.command, Wx(LoadResString(button.string_id)));
        control->Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) {
            if (event.GetId() == kIdHelp) return RequestHelp();
            EndWith(event.GetId());
        });
        buttons_.push_back(control);
    }

    SetClientSize(PlaceControls(icon_control));
    CentreOnParent();
    KeepOnScreen();
    Bind(wxEVT_CHAR_HOOK, &CMessageBoxDialog::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CMessageBoxDialog::OnClose, this);
    // Escape is handled by OnCharHook; the dialog's own handling would end with wxID_CANCEL.
    SetEscapeId(wxID_NONE);
    SetAffirmativeId(wxID_NONE);
    if (plan_.escape_button == kNoButton) EnableCloseButton(false);

    if ((style_ & kNoSound) == 0) wxBell();
    if (style_ & kForeground) Raise();
    if (wxWindow* button = ButtonFor(plan_.default_button)) {
        static_cast<wxButton*>(button)->SetDefault();
        button->SetFocus();
    }
}

wxSize CMessageBoxDialog::PlaceControls(wxStaticBitmap* icon) {
    const int mx = ToPixelsX(kMargin), my = ToPixelsY(kMargin);
    const wxSize icon_size = icon != nullptr ? icon->GetBitmap().GetSize() : wxSize(0, 0);

    // The message: measured word-wrapped in half the screen width + 100 pixels, less the
    // margins and the icon; the control is 100 pixels wider than the measured text.
    const int screen_width = wxDisplay(this).GetGeometry().width;
    const int wrap_width = screen_width / 2 + 100 - 2 * mx - icon_size.x;
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    const wxSize measured = message_control_->MeasureText(dc, wrap_width);
    // A word wider than the wrap width, or more lines than the screen holds, is cut off at
    // the screen's edge rather than pushing the buttons off it.
    const int most_height = std::max(wxDisplay(this).GetClientArea().height - kRoomBelowMessage,
                                     measured.y > 0 ? dc.GetCharHeight() : 0);
    const wxSize message_size(std::min(measured.x, wrap_width) + 100,
                              std::min(measured.y, most_height));
    const wxPoint message_at(icon != nullptr ? mx + icon_size.x + mx : mx, my);
    if (icon != nullptr) icon->SetSize(mx, my, icon_size.x, icon_size.y);
    message_control_->SetSize(wxRect(message_at, message_size));

    int right = std::max(message_at.x + message_size.x, mx + icon_size.x);
    int bottom = std::max(message_at.y + message_size.y, my + icon_size.y);
    if (check_box_ != nullptr) {
        const wxSize text = dc.GetTextExtent(check_box_->GetLabelText());
        const wxSize size(text.x + ToPixelsX(kCheckBoxIndent),
                          std::max(text.y, check_box_->GetBestSize().y));
        const wxPoint at(message_at.x, message_at.y + message_size.y + ToPixelsY(kCheckBoxDrop));
        check_box_->SetSize(wxRect(at, size));
        right = std::max(right, at.x + size.x);
        bottom = std::max(bottom, at.y + size.y);
    }

    // One size for every button: at least 40 × 14 units, grown to the largest caption, then
    // padded by 4 units left and right and 1 unit above and below.
    wxSize button(ToPixelsX(kButtonMinWidth), ToPixelsY(kButtonMinHeight));
    for (wxWindow* control : buttons_) {
        const wxSize best = control->GetBestSize();
        const wxSize text = dc.GetTextExtent(static_cast<wxButton*>(control)->GetLabelText());
        button.x = std::max({button.x, text.x, best.x - 2 * ToPixelsX(kButtonPadX)});
        button.y = std::max({button.y, text.y, best.y - 2 * ToPixelsY(kButtonPadY)});
    }
    button.x += 2 * ToPixelsX(kButtonPadX);
    button.y += 2 * ToPixelsY(kButtonPadY);
    const int count = static_cast<int>(buttons_.size());
    const int row_width = count * button.x + (count - 1) * ToPixelsX(kGap);
    const int client_width = std::max(right + mx, row_width + 2 * mx);
    const int row_top = bottom + my;
    int x =
        (style_ & kButtonsRight) ? client_width - mx - row_width : (client_width - row_width) / 2;
    for (wxWindow* control : buttons_) {
        control->SetSize(x, row_top, button.x, button.y);
        x += button.x + ToPixelsX(kGap);
    }
    return wxSize(client_width, row_top + button.y + my);
}

void CMessageBoxDialog::RequestHelp() {
    // The help button opens help instead of closing the box: a help event for the windows
    // above (the program shows its About box).
    wxHelpEvent help(wxEVT_HELP, GetId());
    help.SetEventObject(this);
    ProcessWindowEvent(help);
}

void CMessageBoxDialog::KeepOnScreen() {
    const wxRect screen = wxDisplay(this).GetClientArea();
    wxRect box = GetRect();
    box.x = std::max(screen.x, std::min(box.x, screen.GetRight() + 1 - box.width));
    box.y = std::max(screen.y, std::min(box.y, screen.GetBottom() + 1 - box.height));
    Move(box.GetPosition());
}

void CMessageBoxDialog::EndWith(int command) {
    LogScope scope("CMessageBoxDialog::EndWith", 3);
    const bool ticked = check_box_ != nullptr && check_box_->GetValue();
    stored_result_ = ticked ? 1 : 0;
    if (ticked) {
        if (value_name_.empty()) value_name_ = ValueName(message_, help_id_);
        RememberAnswer(value_name_, command);
    }
    EndModal(command);
}

void CMessageBoxDialog::OnCharHook(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    if (key == WXK_RETURN || key == WXK_NUMPAD_ENTER) {
        // The focused button answers, else the default button.
        wxWindow* focused = FindFocus();
        if (std::find(buttons_.begin(), buttons_.end(), focused) != buttons_.end()) {
            if (focused->GetId() == kIdHelp) return RequestHelp();
            EndWith(focused->GetId());
        } else if (plan_.default_button != kNoButton) {
            EndWith(plan_.default_button);
        }
        return;
    }
    if (key == WXK_ESCAPE || (key == WXK_CANCEL && event.ControlDown())) {
        if (plan_.escape_button != kNoButton) EndWith(plan_.escape_button);
        return;
    }
    event.Skip();
}

void CMessageBoxDialog::OnClose(wxCloseEvent& event) {
    if (plan_.escape_button != kNoButton) {
        EndWith(plan_.escape_button);
        return;
    }
    if (event.CanVeto()) event.Veto();
}

int ShowMessageBox(wxWindow* parent, const std::string& message, const std::string& title,
                   uint32_t style, int32_t help_id) {
    CMessageBoxDialog box(parent, message, title, style, help_id);
    return box.DoModal();
}
