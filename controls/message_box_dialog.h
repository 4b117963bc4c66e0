// The program's message box: buttons from the string table, extra answers ("Yes to &all",
// "Skip &all", ...), and a check box that stores the answer so that the next DoModal() gives
// it at once without showing anything. Laid out in dialog units, as a resource would be.
#pragma once

#include <wx/bitmap.h>
#include <wx/dialog.h>

#include <cstdint>
#include <string>

#include "controls/message_box_rules.h"

class wxCheckBox;
class wxStaticBitmap;
class CColorStaticST;

class CMessageBoxDialog : public wxDialog {
  public:
    // An empty title shows the application's name.
    CMessageBoxDialog(wxWindow* parent, const std::string& message, const std::string& title,
                      uint32_t style, int32_t help_id = 0);

    // A button's command id, or message_box::kNotShown / the remembered answer when the box
    // was not shown.
    int DoModal();

    // A positive value set before DoModal() is taken as the remembered answer; after the box
    // closed it holds the check box state (1 ticked, 0 not).
    void SetStoredResult(int32_t result) { stored_result_ = result; }
    int32_t StoredResult() const { return stored_result_; }
    // An icon of the caller's; the style's icon bits are then ignored.
    void SetMessageIcon(const wxBitmap& icon) { own_icon_ = icon; }

    const message_box::Plan& Plan() const { return plan_; }
    const std::string& Message() const { return message_; }
    // The button with that command id, once the box is built (for tests and accessibility).
    wxWindow* ButtonFor(int command) const;
    wxCheckBox* CheckBox() const { return check_box_; }

  private:
    void BuildControls();
    wxBitmap ChooseIcon() const;
    // Sizes and places every control by the rules of the box; returns the client size.
    wxSize PlaceControls(wxStaticBitmap* icon);
    int ToPixelsX(int units) const { return units * per_1000_.x / 1000; }
    int ToPixelsY(int units) const { return units * per_1000_.y / 1000; }
    void RequestHelp();
    // Moves the box back inside the display's work area where centring put it outside.
    void KeepOnScreen();
    void EndWith(int command);
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);

    std::string message_;
    uint32_t style_;
    int32_t help_id_;
    wxBitmap own_icon_;
    int32_t stored_result_ = -1;
    std::string value_name_;
    message_box::Plan plan_;
    wxSize per_1000_;  // pixels per 1000 dialog units, mapped once
    CColorStaticST* message_control_ = nullptr;
    wxCheckBox* check_box_ = nullptr;
    std::vector<wxWindow*> buttons_;
};

// Shows a box and returns CMessageBoxDialog::DoModal()'s result.
int ShowMessageBox(wxWindow* parent, const std::string& message, const std::string& title,
                   uint32_t style, int32_t help_id = 0);
