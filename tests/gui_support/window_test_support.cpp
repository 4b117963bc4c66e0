#include "tests/gui_support/window_test_support.h"

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/evtloop.h>
#include <wx/utils.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace window_test {

namespace {
void HandlePending() {
    if (wxTheApp == nullptr) return;
    // Yield handles what is queued, idle events included, without recursing into itself.
    wxTheApp->Yield(true);
    wxTheApp->ProcessIdle();
}
}  // namespace

bool PumpUntil(const std::function<bool()>& done, int timeout_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        HandlePending();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void PumpFor(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    PumpUntil([&] { return std::chrono::steady_clock::now() >= end; }, ms + 1000);
}

wxImage Capture(wxWindow* window) {
    window->Update();
    PumpFor(50);
    // Through the window's own context: on GTK 3 a screen context can hand back the picture
    // of an earlier capture. Without a window manager a top-level window has no frame.
    const wxSize size = window->GetClientSize();
    wxBitmap bitmap(size.x, size.y, 24);
    wxMemoryDC memory(bitmap);
    wxClientDC client(window);
    memory.Blit(0, 0, size.x, size.y, &client, 0, 0);
    memory.SelectObject(wxNullBitmap);
    return bitmap.ConvertToImage();
}

void SaveImage(const wxImage& image, const std::string& name) {
    const char* folder = std::getenv("TESSEL_SCREENSHOTS");
    std::filesystem::path dir = folder != nullptr ? folder : "screenshots";
    std::filesystem::create_directories(dir);
    image.SaveFile((dir / (name + ".png")).string(), wxBITMAP_TYPE_PNG);
}

std::string SaveScreenshot(wxWindow* window, const std::string& name) {
    SaveImage(Capture(window), name);
    const char* folder = std::getenv("TESSEL_SCREENSHOTS");
    return std::string(folder != nullptr ? folder : "screenshots") + "/" + name + ".png";
}

int CountPixels(const wxImage& image, const wxRect& area, const wxColour& colour, int tolerance) {
    int count = 0;
    const wxRect inside = area.Intersect(wxRect(0, 0, image.GetWidth(), image.GetHeight()));
    for (int y = inside.y; y < inside.GetBottom() + 1; ++y) {
        for (int x = inside.x; x < inside.GetRight() + 1; ++x) {
            if (std::abs(image.GetRed(x, y) - colour.Red()) <= tolerance &&
                std::abs(image.GetGreen(x, y) - colour.Green()) <= tolerance &&
                std::abs(image.GetBlue(x, y) - colour.Blue()) <= tolerance)
                ++count;
        }
    }
    return count;
}

}  // namespace window_test
