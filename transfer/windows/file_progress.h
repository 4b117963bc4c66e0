// The progress of a transfer: the current file, a two-line status, a bar for the file and one
// for the whole transfer, Cancel, and "Shut down PC when copying files completed". The
// process-wide CFileProgress keeps the flags; its window exists only while a transfer runs.
#pragma once

#include <wx/dialog.h>

#include "transfer/progress.h"
#include "transfer/progress_text.h"

class wxCheckBox;
class wxGauge;
class wxStaticText;

class CFileProgress {
  public:
    enum : int {
        kIdFile = 1013,
        kIdStatus = 1026,
        kIdFileBar = 1012,
        kIdOverallBar = 1024,
        kIdShutDown = 1052,
        kIdCancel = 1020,
    };

    static CFileProgress& Get();

    // Creates and shows the window for one transfer, owned by `parent`; the stop flag is
    // cleared, the shut-down flag kept.
    void Create(wxWindow* parent);
    // Destroys the window; the flags stay.
    void DestroyWindow();
    wxDialog* Window() const { return window_; }

    // One step of the transfer: mode 0 the file's name, 1 the status and the file's percent,
    // 2 the overall percent. Lets the windows handle what is waiting, then says whether to go
    // on. Re-entrant calls (from an event handled inside it) only set the texts.
    bool Update(const std::string& text, float percent, int mode);
    // The engine's progress callback: the record's lines through Update.
    static bool ProgressCallback(const TransferProgress& progress, void* context);

    bool StopRequested() const { return stop_; }
    bool ShutDownRequested() const { return shut_down_; }
    // A request to end the program (the main window closed, a quit signal): the running
    // transfer stops at its next step, and every later one at its first.
    void RequestQuit() { quit_ = true; }
    bool QuitRequested() const { return quit_; }

  private:
    CFileProgress() = default;
    void Pump();

    wxDialog* window_ = nullptr;
    wxStaticText* file_ = nullptr;
    wxStaticText* status_ = nullptr;
    wxGauge* file_bar_ = nullptr;
    wxGauge* overall_bar_ = nullptr;
    ProgressTexts texts_;
    bool stop_ = false;
    bool shut_down_ = false;
    bool quit_ = false;
    bool pumping_ = false;
};
