// The main window. For now it holds the Settings and About commands only and says that the
// two-pane window is not there yet; the connection, the panes and the transfers come with it.
#pragma once

#include <wx/dialog.h>

#include <cstdint>

class COV_USBDlg : public wxDialog {
  public:
    explicit COV_USBDlg(wxWindow* parent);

    enum : int { kIdSettings = 1030, kIdAbout = 1031 };

    // The copy of `BufferSize` the transfers start with, re-read after Settings → OK.
    int32_t TransferBufferSize() const { return transfer_buffer_size_; }

  private:
    void OnBnClickedBtSettings(wxCommandEvent& event);
    void OnBnClickedBtAbout(wxCommandEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);

    int32_t transfer_buffer_size_;
};
