// The settings dialog on the screen: what it shows, OK and Cancel, the explore button, and a
// new buffer size reaching the copy engine.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/textctrl.h>

#include "app/log.h"
#include "app/settings.h"
#include "app/windows/dlg_settings.h"
#include "platform/profile_store.h"
#include "platform/shell_open.h"
#include "pvrdisk/pcfm.h"
#include "tests/gui_support/modal_driver.h"
#include "tests/gui_support/window_test_support.h"
#include "tests/transfer/receiver_fixture.h"
#include "transfer/gathering.h"
#include "transfer/win_function_mgr.h"

using window_test::Click;
using window_test::DriveModal;

namespace {
template <typename T>
T* Control(wxDialog& dialog, int id) {
    return static_cast<T*>(dialog.FindWindow(id));
}

// Opens the dialog, lets `act` work in it, and returns how it closed.
int RunSettings(const std::function<void(wxDialog&)>& act) {
    CDlgSettings dialog(nullptr);
    return DriveModal(
        dialog, [&] { return dialog.ShowModal(); }, act);
}

class SettingsDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetProfile(platform::MakeMemoryProfileStore());
        SetLogLevel(1);
    }
    void TearDown() override {
        platform::SetShellOpener(nullptr);
        SetLogLevel(1);
    }
    platform::ProfileStore& Store() { return platform::Profile(); }
};
}  // namespace

TEST_F(SettingsDialogTest, ShowsTheStoredValues) {
    Store().WriteInt("Settings", "BufferSize", 131072);
    Store().WriteInt("Settings", "LogLevel", 2);
    Store().WriteInt("Settings", "KeepEqualFiles", 0);
    Store().WriteString("Settings", "Path Log", "/srv/tessel logs");
    RunSettings([](wxDialog& dialog) {
        EXPECT_EQ(dialog.GetTitle(), "Settings");
        auto* buffer = Control<wxChoice>(dialog, CDlgSettings::kIdBufferSize);
        EXPECT_EQ(buffer->GetCount(), 8u);
        EXPECT_EQ(buffer->GetStringSelection(), "128 KB");
        EXPECT_EQ(Control<wxChoice>(dialog, CDlgSettings::kIdLogLevel)->GetStringSelection(),
                  "2: Detailed information");
        EXPECT_FALSE(Control<wxCheckBox>(dialog, CDlgSettings::kIdKeepEqual)->GetValue());
        EXPECT_TRUE(Control<wxCheckBox>(dialog, CDlgSettings::kIdAutoResume)->GetValue());
        EXPECT_TRUE(Control<wxCheckBox>(dialog, CDlgSettings::kIdShowSummary)->GetValue());
        auto* folder = Control<wxTextCtrl>(dialog, CDlgSettings::kIdLogFolder);
        EXPECT_EQ(folder->GetValue(), "/srv/tessel logs");
        EXPECT_FALSE(folder->IsEditable());
        window_test::SaveScreenshot(&dialog, "settings_dialog");
        Click(dialog.FindWindow(wxID_CANCEL));
    });
}

TEST_F(SettingsDialogTest, OkStoresTheChangesAndCancelNothing) {
    auto change = [](wxDialog& dialog) {
        auto* buffer = Control<wxChoice>(dialog, CDlgSettings::kIdBufferSize);
        buffer->SetFocus();
        buffer->SetSelection(1);  // "2 KB"
        Control<wxChoice>(dialog, CDlgSettings::kIdLogLevel)->SetSelection(0);
        Click(Control<wxCheckBox>(dialog, CDlgSettings::kIdAutoResume));
        Click(Control<wxCheckBox>(dialog, CDlgSettings::kIdShowSummary));
    };
    EXPECT_EQ(RunSettings([&](wxDialog& dialog) {
                  change(dialog);
                  Click(dialog.FindWindow(wxID_CANCEL));
              }),
              wxID_CANCEL);
    EXPECT_EQ(Store().GetInt("Settings", "BufferSize", -5), -5);
    EXPECT_EQ(Store().GetInt("Settings", "AutoResumeFiles", -5), -5);
    EXPECT_EQ(GetLogLevel(), 1);

    EXPECT_EQ(RunSettings([&](wxDialog& dialog) {
                  change(dialog);
                  Click(dialog.FindWindow(wxID_OK));
              }),
              wxID_OK);
    EXPECT_EQ(settings::BufferSize(), 2048);
    EXPECT_EQ(settings::LogLevel(), 0);
    EXPECT_EQ(GetLogLevel(), 0);  // logging stops at once
    EXPECT_TRUE(settings::KeepEqualFiles());
    EXPECT_FALSE(settings::AutoResumeFiles());
    EXPECT_FALSE(settings::ShowTransferSummary());

    // Escape is the dialog's Cancel.
    EXPECT_EQ(RunSettings([&](wxDialog& dialog) {
                  change(dialog);
                  window_test::PressKey(WXK_ESCAPE);
              }),
              wxID_CANCEL);
}

TEST_F(SettingsDialogTest, ExploreOpensTheLogFolderAndTheLog) {
    Store().WriteString("Settings", "Path Log", "/srv/logs");
    std::vector<std::string> opened;
    platform::SetShellOpener([&](const std::string& target) {
        opened.push_back(target);
        return false;  // a failure is not reported
    });
    RunSettings([](wxDialog& dialog) {
        Click(dialog.FindWindow(CDlgSettings::kIdExplore));
        Click(dialog.FindWindow(wxID_OK));
    });
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(opened.front(), "/srv/logs");
    // The log of this run, when one is open, follows the folder.
    EXPECT_EQ(opened.size(), GetLogFilePath().empty() ? 1u : 2u);
}

// The copy engine reads the new block size at the next transfer.
class SettingsReachTheEngine : public ReceiverFixture {};

TEST_F(SettingsReachTheEngine, ANewBufferSizeShapesTheNextCopy) {
    MakeImage();
    Connect();
    const std::string bytes = RandomBytes(256 * 1024, 7);
    WriteFileBytes(Pc("clip.ts"), bytes);
    auto put = [&](const std::string& folder) {
        CWinFunctionMgr win;
        CDirEntry record;
        EXPECT_TRUE(MakePcRecord(folder_.Path(), "clip.ts", &record));
        CDirList one;
        one.Add(record);
        CDirList files = GatherSelection(one, false);
        receiver_->ResetCounters();
        EXPECT_TRUE(win.CopyFiles(&files, folder_.Path(), folder));
        return receiver_->GetCounters().commands;
    };
    const uint64_t at_64k = put("C:\\");
    RunSettings([](wxDialog& dialog) {
        Control<wxChoice>(dialog, CDlgSettings::kIdBufferSize)->SetSelection(1);  // "2 KB"
        Click(dialog.FindWindow(wxID_OK));
    });
    ASSERT_EQ(settings::BufferSize(), 2048);
    ASSERT_TRUE(pcfm_mkdir("C:\\Second") == 0);
    const uint64_t at_2k = put("C:\\Second");
    // 256 KiB in 2 KiB chunks: at least 128 writes, against 4 at 64 KiB.
    EXPECT_GE(at_2k, 128u);
    EXPECT_LT(at_64k, 64u);
    ExpectDiskClean();
}
