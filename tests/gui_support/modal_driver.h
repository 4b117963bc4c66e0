// Drives a modal dialog from inside its own loop: `act` runs once the dialog is on the screen
// and acts as a user would (wxUIActionSimulator); a dialog still open after the bound is ended
// with kStillOpen, so a test fails instead of hanging.
#pragma once

#include <wx/dialog.h>

#include <functional>

namespace window_test {

inline constexpr int kStillOpen = -99;

// Calls `show` (which runs the dialog modally and returns its result) and, while it runs,
// `act(dialog)`. Returns what `show` returned.
int DriveModal(wxDialog& dialog, const std::function<int()>& show,
               const std::function<void(wxDialog&)>& act, int bound_ms = 8000);

// For a modal dialog that code under test opens itself: once one is on the screen, `act` runs
// on it. A dialog still open after the bound is ended with kStillOpen. Returns at once; call
// it before the code that opens the dialog.
void WhenDialogShows(const std::function<void(wxDialog&)>& act, int bound_ms = 8000);

// Ends the watchers of WhenDialogShows still waiting; the test program calls it before wx is
// shut down.
void StopDialogWatchers();

// The centre of `window` in screen coordinates.
wxPoint CentreOf(wxWindow* window);
// Moves the mouse to the centre of `window` and clicks it.
void Click(wxWindow* window);
// Presses a key (with modifiers) where the keyboard focus is.
void PressKey(int key, int modifiers = 0);

}  // namespace window_test
