// The message box as a user meets it: shown on an X server, answered with the mouse and the
// keyboard, and its remembered answers kept in the profile store.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/display.h>

#include "controls/color_static_st.h"
#include "controls/message_box_dialog.h"
#include "platform/profile_store.h"
#include "tests/gui_support/modal_driver.h"
#include "tests/gui_support/window_test_support.h"

using namespace message_box;
using window_test::Click;
using window_test::DriveModal;
using window_test::PressKey;

namespace {
class MessageBoxTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetProfile(platform::MakeMemoryProfileStore()); }

    // Shows a box of `style` and lets `act` answer it; the box is gone when this returns.
    int Answer(uint32_t style, const std::function<void(CMessageBoxDialog&)>& act,
               const std::string& message = "Is this the question?",
               const std::string& screenshot = "") {
        CMessageBoxDialog box(nullptr, message, "Attention!", style | kNoSound);
        return DriveModal(
            box, [&] { return box.DoModal(); },
            [&](wxDialog&) {
                if (!screenshot.empty()) window_test::SaveScreenshot(&box, screenshot);
                act(box);
            });
    }
};
}  // namespace

TEST_F(MessageBoxTest, EveryButtonOfEverySetAnswersWithItsCommand) {
    for (uint32_t set = 0; set <= 9; ++set) {
        const Plan plan = PlanFor(set);
        for (size_t i = 0; i < plan.buttons.size(); ++i) {
            const int command = plan.buttons[i].command;
            SCOPED_TRACE("set " + std::to_string(set) + " button " + std::to_string(command));
            const std::string shot = i == 0 ? "message_box_set_" + std::to_string(set) : "";
            EXPECT_EQ(Answer(
                          set | kIconInformation,
                          [&](CMessageBoxDialog& box) { Click(box.ButtonFor(command)); },
                          "One of the button sets.", shot),
                      command);
        }
    }
}

TEST_F(MessageBoxTest, ButtonsShowTheirCaptionsLeftToRight) {
    Answer(0x0C000024, [](CMessageBoxDialog& box) {
        const int commands[] = {kIdYes, kIdYesToAll, kIdNo, kIdNoToAll};
        const char* captions[] = {"&Yes", "Yes to &all", "&No", "No to &all"};
        int last_x = -1;
        for (int i = 0; i < 4; ++i) {
            auto* button = static_cast<wxButton*>(box.ButtonFor(commands[i]));
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->GetLabel(), captions[i]);
            EXPECT_GT(button->GetPosition().x, last_x);
            last_x = button->GetPosition().x;
        }
        EXPECT_EQ(box.CheckBox(), nullptr);
        window_test::SaveScreenshot(&box, "message_box_overwrite_question");
        Click(box.ButtonFor(kIdNo));
    });
}

TEST_F(MessageBoxTest, EnterTakesTheFocusedButtonElseTheDefault) {
    // The overwrite question: Enter picks "&Yes".
    EXPECT_EQ(Answer(0x0C000024, [](CMessageBoxDialog&) { PressKey(WXK_RETURN); }), kIdYes);
    // Tab moves the focus to the next button; Enter then answers with it.
    EXPECT_EQ(Answer(0x0C000024,
                     [](CMessageBoxDialog& box) {
                         PressKey(WXK_TAB);
                         EXPECT_EQ(wxWindow::FindFocus(), box.ButtonFor(kIdYesToAll));
                         PressKey(WXK_RETURN);
                     }),
              kIdYesToAll);
    // The default chosen by 0x200 (the third button) has the focus and answers Enter.
    EXPECT_EQ(Answer(3 | 0x200, [](CMessageBoxDialog&) { PressKey(WXK_RETURN); }), kIdCancel);
}

TEST_F(MessageBoxTest, EscapeAndTheCloseBoxAnswerWithTheEscapeButtonOnly) {
    EXPECT_EQ(Answer(1, [](CMessageBoxDialog&) { PressKey(WXK_ESCAPE); }), kIdCancel);
    EXPECT_EQ(Answer(0, [](CMessageBoxDialog&) { PressKey(WXK_ESCAPE); }), kIdOk);
    EXPECT_EQ(Answer(3, [](CMessageBoxDialog& box) { box.Close(); }), kIdCancel);
    // No escape button: Escape and the close box do nothing, the box stays until answered.
    for (uint32_t style : {0x0C000024u, 2u, 4u, 7u}) {
        SCOPED_TRACE(style);
        const int last = PlanFor(style).buttons.back().command;
        EXPECT_EQ(Answer(style,
                         [last](CMessageBoxDialog& box) {
                             PressKey(WXK_ESCAPE);
                             box.Close();
                             window_test::PumpFor(100);
                             EXPECT_TRUE(box.IsShown());
                             Click(box.ButtonFor(last));
                         }),
                  last);
    }
}

TEST_F(MessageBoxTest, DoNotShowAgainIsRememberedThroughTheProfile) {
    const std::string message = "New files copied:\t1\r\nOverwritten files:\t0";
    const uint32_t style = kDoNotShowAgain | kIconInformation;
    int shown = 0;
    EXPECT_EQ(Answer(
                  style,
                  [&](CMessageBoxDialog& box) {
                      ++shown;
                      ASSERT_NE(box.CheckBox(), nullptr);
                      EXPECT_EQ(box.CheckBox()->GetLabel(), "&Do not show this message again!");
                      EXPECT_FALSE(box.CheckBox()->GetValue());
                      Click(box.CheckBox());
                      EXPECT_TRUE(box.CheckBox()->GetValue());
                      window_test::SaveScreenshot(&box, "message_box_summary_ticked");
                      Click(box.ButtonFor(kIdOk));
                  },
                  message),
              kIdOk);
    EXPECT_EQ(platform::Profile().GetInt(kSection, ValueName(message, 0), -1), kIdOk);

    // Next time: the constant, and nothing shown.
    EXPECT_EQ(Answer(
                  style, [&](CMessageBoxDialog&) { ++shown; }, message),
              kNotShown);
    // A message that differs only in its first byte shares the value.
    EXPECT_EQ(Answer(
                  style, [&](CMessageBoxDialog&) { ++shown; }, "X" + message.substr(1)),
              kNotShown);
    EXPECT_EQ(shown, 1);
}

TEST_F(MessageBoxTest, DoNotAskAgainReturnsTheStoredAnswer) {
    const uint32_t style = kDoNotAskAgain | 4 | kIconQuestion;
    EXPECT_EQ(Answer(style,
                     [](CMessageBoxDialog& box) {
                         EXPECT_EQ(box.CheckBox()->GetLabel(), "&Do not ask this question again!");
                         Click(box.CheckBox());
                         Click(box.ButtonFor(kIdNo));
                     }),
              kIdNo);
    int shown = 0;
    EXPECT_EQ(Answer(style, [&](CMessageBoxDialog&) { ++shown; }), kIdNo);
    EXPECT_EQ(shown, 0);
    // Unticked: nothing is stored, the box is shown again.
    EXPECT_EQ(
        Answer(
            style | 0x1,  // another set, another question
            [](CMessageBoxDialog& box) { Click(box.ButtonFor(kIdCancel)); }, "Another question?"),
        kIdCancel);
    EXPECT_EQ(platform::Profile().GetInt(kSection, ValueName("Another question?", 0), -1), -1);
}

TEST_F(MessageBoxTest, TickedAtStartAndTheStoredResultField) {
    CMessageBoxDialog box(nullptr, "Ticked", "", kDoNotShowAgain | kCheckBoxTicked | kNoSound);
    EXPECT_EQ(DriveModal(
                  box, [&] { return box.DoModal(); },
                  [&](wxDialog&) {
                      EXPECT_TRUE(box.CheckBox()->GetValue());
                      EXPECT_EQ(box.GetTitle(), wxTheApp->GetAppDisplayName());
                      PressKey(WXK_RETURN);
                  }),
              kIdOk);
    EXPECT_EQ(box.StoredResult(), 1);

    // A caller's stored result of 1 answers without showing.
    CMessageBoxDialog again(nullptr, "Not yet on record", "", kDoNotShowAgain | kNoSound);
    again.SetStoredResult(1);
    EXPECT_EQ(again.DoModal(), kNotShown);
    EXPECT_FALSE(again.IsShown());
}

TEST_F(MessageBoxTest, LayoutInDialogUnits) {
    Answer(1 | kIconExclamation | kButtonsRight, [](CMessageBoxDialog& box) {
        const wxSize client = box.GetClientSize();
        const int margin = box.ConvertDialogToPixels(wxSize(8, 8)).x;
        const wxRect cancel = box.ButtonFor(kIdCancel)->GetRect();
        EXPECT_EQ(cancel.GetRight() + 1, client.x - margin);
        EXPECT_GE(cancel.width, box.ConvertDialogToPixels(wxSize(48, 16)).x);
        EXPECT_EQ(box.ButtonFor(kIdOk)->GetSize(), cancel.GetSize());
        Click(box.ButtonFor(kIdOk));
    });
    Answer(1, [](CMessageBoxDialog& box) {
        const wxSize client = box.GetClientSize();
        const wxRect ok = box.ButtonFor(kIdOk)->GetRect();
        const wxRect cancel = box.ButtonFor(kIdCancel)->GetRect();
        EXPECT_NEAR(ok.x, client.x - (cancel.GetRight() + 1), 1);  // centred
        Click(box.ButtonFor(kIdOk));
    });
}

TEST_F(MessageBoxTest, ANameThatIsNoUtf8IsStillShown) {
    // A Latin-1 file name from the PC's disk.
    Answer(
        1,
        [](CMessageBoxDialog& box) {
            wxString shown;
            for (wxWindow* child : box.GetChildren())
                if (dynamic_cast<CColorStaticST*>(child) != nullptr) shown = child->GetLabel();
            EXPECT_NE(shown.Find(wxString::FromUTF8("café.ts")), wxNOT_FOUND) << shown;
            Click(box.ButtonFor(kIdOk));
        },
        "The file caf\xE9.ts exists. Overwrite it?");
}

TEST_F(MessageBoxTest, AHugeMessageKeepsTheBoxAndItsButtonsOnTheScreen) {
    const std::string long_path = "/media/recordings/" + std::string(400, 'x') + ".ts";
    std::string many_lines;
    for (int i = 0; i < 5000; ++i) many_lines += "line " + std::to_string(i) + "\r\n";
    for (const std::string& message : {long_path, many_lines, std::string(100000, 'w')}) {
        EXPECT_EQ(Answer(
                      1,
                      [](CMessageBoxDialog& box) {
                          const wxRect screen = wxDisplay(&box).GetClientArea();
                          EXPECT_TRUE(screen.Contains(box.GetScreenRect()))
                              << box.GetScreenRect().x;
                          const wxRect ok = box.ButtonFor(kIdOk)->GetScreenRect();
                          EXPECT_TRUE(screen.Contains(ok));
                          Click(box.ButtonFor(kIdCancel));
                      },
                      message),
                  kIdCancel);
    }
}

TEST_F(MessageBoxTest, EnterOnTheHelpButtonAsksForHelpAndKeepsTheBox) {
    int helped = 0;
    EXPECT_EQ(Answer(1 | kHelpButton,
                     [&](CMessageBoxDialog& box) {
                         box.Bind(wxEVT_HELP, [&](wxHelpEvent&) { ++helped; });
                         box.ButtonFor(kIdHelp)->SetFocus();
                         PressKey(WXK_RETURN);
                         Click(box.ButtonFor(kIdHelp));
                         EXPECT_TRUE(box.IsShown());
                         Click(box.ButtonFor(kIdOk));
                     }),
              kIdOk);
    EXPECT_EQ(helped, 2);
}
