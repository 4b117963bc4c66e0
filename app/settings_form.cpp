#include "app/settings_form.h"

#include <cstdlib>

#include "app/log.h"
#include "app/settings.h"
#include "app/string_table.h"
#include "platform/profile_store.h"

namespace {
constexpr int kFirstLogLevelText = 118;
constexpr int kLogLevels = 4;
constexpr int kBufferChoices[] = {1, 2, 4, 8, 16, 32, 64, 128};  // KB

void Write(const char* name, int value) {
    platform::Profile().WriteInt(settings::kSection, name, value);
}
}  // namespace

SettingsForm LoadSettingsForm() {
    LogScope scope("CDlgSettings::OnInitDialog", 2);
    SettingsForm form;
    for (int kb : kBufferChoices) form.buffer_entries.push_back(std::to_string(kb) + " KB");
    // The first entry that begins with the stored size in KB, as a list box's search does.
    const std::string stored = std::to_string(settings::BufferSize() / 1024) + " KB";
    for (size_t i = 0; i < form.buffer_entries.size(); ++i) {
        if (form.buffer_entries[i].compare(0, stored.size(), stored) == 0) {
            form.buffer_selection = static_cast<int>(i);
            break;
        }
    }
    for (int level = 0; level < kLogLevels; ++level)
        form.log_level_entries.push_back(LoadResString(kFirstLogLevelText + level));
    const int level = settings::LogLevel();
    if (level >= 0 && level < kLogLevels) form.log_level_selection = level;
    form.log_folder = GetLogFolder();
    form.keep_equal_files = settings::KeepEqualFiles();
    form.auto_resume_files = settings::AutoResumeFiles();
    form.show_transfer_summary = settings::ShowTransferSummary();
    return form;
}

void SaveSettingsForm(const SettingsForm& form) {
    LogScope scope("CDlgSettings::OnOK", 2);
    if (form.buffer_selection >= 0 &&
        form.buffer_selection < static_cast<int>(form.buffer_entries.size())) {
        const int kb = std::atoi(form.buffer_entries[form.buffer_selection].c_str());
        Write("BufferSize", kb * 1024);
    }
    Write("LogLevel", form.log_level_selection);
    SetLogLevel(settings::LogLevel());
    Write("KeepEqualFiles", form.keep_equal_files ? 1 : 0);
    Write("AutoResumeFiles", form.auto_resume_files ? 1 : 0);
    Write("ShowTransferSummary", form.show_transfer_summary ? 1 : 0);
}
