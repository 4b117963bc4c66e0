// Helpers for tests that drive real windows on an X server: event pumping with a bound,
// pictures of what is on the screen, and screenshots saved for reviewers.
#pragma once

#include <wx/bitmap.h>
#include <wx/image.h>
#include <wx/window.h>

#include <functional>
#include <string>

namespace window_test {

// Handles pending events until `done` holds or `timeout_ms` passed; returns whether it held.
bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 5000);
// Handles events for about `ms` milliseconds.
void PumpFor(int ms);

// What the window's client area shows now.
wxImage Capture(wxWindow* window);
// Saves Capture(window) as `name`.png under the folder named by TESSEL_SCREENSHOTS (the
// build tree's screenshots/ folder when the tests run under CTest); returns the path.
std::string SaveScreenshot(wxWindow* window, const std::string& name);
void SaveImage(const wxImage& image, const std::string& name);

// Counts the pixels of `image` inside `area` that are within `tolerance` of `colour`.
int CountPixels(const wxImage& image, const wxRect& area, const wxColour& colour,
                int tolerance = 0);

}  // namespace window_test
