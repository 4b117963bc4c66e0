// What the settings dialog loads and stores, on the real profile store (an INI file).
#include "app/settings_form.h"

#include <gtest/gtest.h>

#include "app/log.h"
#include "app/settings.h"
#include "platform/profile_store.h"
#include "tests/support/temp_folder.h"

namespace {
class SettingsFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetProfile(platform::MakeKeyFileProfileStore(folder_.File("settings.ini")));
    }
    void TearDown() override {
        platform::SetProfile(platform::MakeMemoryProfileStore());
        SetLogLevel(1);
    }
    platform::ProfileStore& Store() { return platform::Profile(); }
    TempFolder folder_;
};
}  // namespace

TEST_F(SettingsFormTest, FirstStartShowsTheDefaults) {
    const SettingsForm form = LoadSettingsForm();
    EXPECT_EQ(form.buffer_entries, (std::vector<std::string>{"1 KB", "2 KB", "4 KB", "8 KB",
                                                             "16 KB", "32 KB", "64 KB", "128 KB"}));
    EXPECT_EQ(form.buffer_entries[form.buffer_selection], "64 KB");
    EXPECT_EQ(form.log_level_entries,
              (std::vector<std::string>{"0: No Log file", "1: Basic information",
                                        "2: Detailed information", "3: All information"}));
    EXPECT_EQ(form.log_level_selection, 1);
    EXPECT_TRUE(form.keep_equal_files && form.auto_resume_files && form.show_transfer_summary);
    EXPECT_EQ(form.log_folder, GetLogFolder());
}

TEST_F(SettingsFormTest, StoredValuesSelectTheirEntries) {
    Store().WriteInt("Settings", "BufferSize", 131072);
    Store().WriteInt("Settings", "LogLevel", 3);
    Store().WriteInt("Settings", "AutoResumeFiles", 0);
    Store().WriteInt("Settings", "ShowTransferSummary", 7);  // any value but 0 ticks the box
    SettingsForm form = LoadSettingsForm();
    EXPECT_EQ(form.buffer_entries[form.buffer_selection], "128 KB");
    EXPECT_EQ(form.log_level_selection, 3);
    EXPECT_FALSE(form.auto_resume_files);
    EXPECT_TRUE(form.show_transfer_summary);

    // The size is shown in whole KB: 3000 bytes select "2 KB"; 200 KB matches no entry.
    Store().WriteInt("Settings", "BufferSize", 3000);
    EXPECT_EQ(LoadSettingsForm().buffer_selection, 1);
    Store().WriteInt("Settings", "BufferSize", 200 * 1024);
    EXPECT_EQ(LoadSettingsForm().buffer_selection, -1);
    Store().WriteInt("Settings", "LogLevel", 9);
    EXPECT_EQ(LoadSettingsForm().log_level_selection, -1);
}

TEST_F(SettingsFormTest, SavingStoresWhatTheOkButtonStores) {
    SettingsForm form = LoadSettingsForm();
    form.buffer_selection = 1;  // "2 KB"
    form.log_level_selection = 2;
    form.keep_equal_files = false;
    form.show_transfer_summary = false;
    SaveSettingsForm(form);
    EXPECT_EQ(settings::BufferSize(), 2048);
    EXPECT_EQ(settings::LogLevel(), 2);
    EXPECT_EQ(GetLogLevel(), 2);  // the level in memory follows at once
    EXPECT_FALSE(settings::KeepEqualFiles());
    EXPECT_TRUE(settings::AutoResumeFiles());
    EXPECT_FALSE(settings::ShowTransferSummary());

    // The values survive a new store on the same file.
    platform::SetProfile(platform::MakeKeyFileProfileStore(folder_.File("settings.ini")));
    EXPECT_EQ(settings::BufferSize(), 2048);
}

TEST_F(SettingsFormTest, NoSelectionKeepsTheBufferAndTurnsTheLogOff) {
    Store().WriteInt("Settings", "BufferSize", 200 * 1024);
    Store().WriteInt("Settings", "LogLevel", 9);
    SettingsForm form = LoadSettingsForm();
    SaveSettingsForm(form);
    EXPECT_EQ(settings::BufferSize(), 200 * 1024);
    EXPECT_EQ(settings::LogLevel(), -1);
    EXPECT_FALSE(LogWants(1));
}
