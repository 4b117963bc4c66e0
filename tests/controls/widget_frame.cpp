#include "tests/controls/widget_frame.h"

#include <gtest/gtest.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>

#include "tests/gui_support/window_test_support.h"

void FrameDeleter::operator()(wxFrame* frame) const {
    frame->Destroy();
    window_test::PumpFor(20);
}

WidgetFrame::WidgetFrame()
    : frame_(new wxFrame(nullptr, wxID_ANY, "widget", wxPoint(40, 40), wxSize(420, 260))),
      panel_(new wxPanel(frame_.get(), wxID_ANY)) {
    panel_->SetBackgroundColour(kPanelColour);
}

void WidgetFrame::Show() {
    frame_->Show();
    frame_->Raise();
    ASSERT_TRUE(window_test::PumpUntil([&] { return panel_->IsShownOnScreen(); }));
    window_test::PumpFor(150);
}
