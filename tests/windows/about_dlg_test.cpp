// The About box: modal with its Ok button, and as the splash that closes itself.
#include "app/windows/about_dlg.h"

#include <gtest/gtest.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>

#include "controls/color_static_st.h"
#include "controls/link_opener.h"
#include "tests/gui_support/modal_driver.h"
#include "tests/gui_support/window_test_support.h"

namespace {
bool IsTopLevel(wxWindow* window) {
    for (wxWindow* top : wxTopLevelWindows)
        if (top == window && !top->IsBeingDeleted()) return true;
    return false;
}
}  // namespace

TEST(AboutDlg, ModalBoxShowsNameVersionAndClosesWithOk) {
    std::vector<std::string> opened;
    ReplaceLinkShell({[&](const std::string& target) {
                          opened.push_back(target);
                          return true;
                      },
                      [] {}});
    CAboutDlg about(nullptr, false);
    EXPECT_EQ(about.GetTitle(), "About OV Tessel USB");
    EXPECT_FALSE(about.SplashTimer().IsRunning());
    EXPECT_EQ(about.FindWindow(CAboutDlg::kIdVersion)->GetLabel(), "TX Tessel USB 1.0.1");
    EXPECT_NE(dynamic_cast<CColorStaticST*>(about.FindWindow(CAboutDlg::kIdAboutText)), nullptr);
    EXPECT_NE(dynamic_cast<CColorStaticST*>(about.FindWindow(CAboutDlg::kIdSlogan)), nullptr);
    const int result = window_test::DriveModal(
        about, [&] { return about.ShowModal(); },
        [&](wxDialog& dialog) {
            window_test::SaveScreenshot(&dialog, "about_box");
            // The text's link opens its target through the desktop (a stand-in here).
            auto* text = static_cast<CColorStaticST*>(dialog.FindWindow(CAboutDlg::kIdAboutText));
            EXPECT_TRUE(text->LinksActive());
            for (const MarkupWord& word : text->GetLayout().words) {
                if (word.target.empty()) continue;
                wxUIActionSimulator simulator;
                simulator.MouseMove(text->ClientToScreen(
                    wxPoint(word.x + word.width / 2, word.y + word.height / 2)));
                window_test::PumpFor(30);
                simulator.MouseClick();
                window_test::PumpFor(50);
            }
            window_test::Click(dialog.FindWindow(wxID_OK));
        });
    ReplaceLinkShell(DesktopLinkShell());
    EXPECT_EQ(result, wxID_OK);
    EXPECT_EQ(opened, std::vector<std::string>{"man:tessel"});
}

TEST(AboutDlg, SplashClosesItselfAfterTwoSeconds) {
    auto* splash = new CAboutDlg(nullptr, true);
    EXPECT_TRUE(splash->IsSplash());
    EXPECT_TRUE(splash->SplashTimer().IsRunning());
    EXPECT_EQ(splash->SplashTimer().GetId(), CAboutDlg::kSplashTimerId);
    EXPECT_EQ(splash->SplashTimer().GetInterval(), 2000);
    splash->Show();
    ASSERT_TRUE(window_test::PumpUntil([&] { return splash->IsShownOnScreen(); }));
    window_test::SaveScreenshot(splash, "splash");
    EXPECT_TRUE(IsTopLevel(splash));
    // Gone by its own timer, with nobody pressing anything.
    EXPECT_TRUE(window_test::PumpUntil([&] { return !IsTopLevel(splash); }, 8000));
}
