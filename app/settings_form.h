// What the settings dialog shows and stores, without the dialog: its two lists with their
// selections, the log folder and the three transfer options, loaded from and saved to
// section "Settings".
#pragma once

#include <string>
#include <vector>

struct SettingsForm {
    std::vector<std::string> buffer_entries;     // "1 KB" … "128 KB"
    int buffer_selection = -1;                   // -1: the stored size matches no entry
    std::vector<std::string> log_level_entries;  // texts 118 to 121
    int log_level_selection = -1;                // -1: the stored level is outside 0 to 3
    std::string log_folder;
    bool keep_equal_files = true;
    bool auto_resume_files = true;
    bool show_transfer_summary = true;
};

SettingsForm LoadSettingsForm();

// Stores the form as the dialog's OK does: `BufferSize` (unchanged when no buffer entry is
// selected), `LogLevel` (-1 when none is selected, which turns the log off), the log level in
// memory read back from the store, and the three options.
void SaveSettingsForm(const SettingsForm& form);
