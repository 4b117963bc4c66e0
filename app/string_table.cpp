#include "app/string_table.h"

#include <map>

std::string LoadResString(int id) {
    static const std::map<int, std::string> kTable = {
        {101, "&About TX Tessel USB"},
        {102, "Do you really want to delete the selected file?"},
        {104, "Filename"},
        {105, "Size"},
        {106, "Attribute"},
        {107, "Date"},
        {108, "%I64d MB of %I64d MB, Transfer speed: %2.2f MB/s"},
        {109, "remaining: %s, elapsed: %s, total: %s"},
        {110, "Receiver was disconnected!\r\nWaiting to reconnect..."},
        {111, "[%s] %0.1fGB free/ %0.1fGB total"},
        {112, "%u file selected, %0.3f GByte"},
        {113, "%u file selected, %d MByte"},
        {114, "%u file selected, %d KByte"},
        {115,
         "§TX Tessel USB§ copies recordings and other files between this PC and the "
         "receiver's disk, both ways, and resumes what was cut off.§§Help: "
         "the [manual](man:tessel) page and the README of the program."},
        {116,
         "This file does already exist on the target disk:\r\nExisting File:\r\n%s\r\nNew "
         "File:\r\n%s\r\nDo you want to overwrite or resume the existing file?"},
        {117, "Attention!"},
        {118, "0: No Log file"},
        {119, "1: Basic information"},
        {120, "2: Detailed information"},
        {121, "3: All information"},
        {122, "Enter search here"},
        {123, "TX Tessel USB"},
        {124, "1.0.1"},
        {125,
         "New files copied:\t%d\r\nOverwritten files:\t%d\r\nResumed files:\t%d\r\nEqual files "
         "kept:\t%d\r\nSkipped by user:\t%d"},
        {126, "File Transfer Summary"},
        {127, "%Y-%m-%d %H:%M"},
        {128, "EPG Info"},
        {129, "New Folder"},
        {130, "Failed to create folder!"},
        {131, "Failed to rename file!"},
        {133, "Error deleting file\r\n%s"},
        {134, "This file is write-protected:\r\n%s"},
        {9001, "&Ok"},
        {9002, "&Cancel"},
        {9003, "&Cancel"},
        {9004, "&Repeat"},
        {9005, "&Ignore"},
        {9006, "Ignore &all"},
        {9007, "&Yes"},
        {9008, "Yes to &all"},
        {9009, "&No"},
        {9010, "No to &all"},
        {9011, "&Continue"},
        {9013, "&Skip"},
        {9014, "Skip &all"},
        {9015, "&Help"},
        {9016, "&Do not show this message again!"},
        {9017, "&Do not ask this question again!"},
        // The warning the desktop's own delete would give: nothing comes back from this one.
        {9101, "They are deleted for good, not moved to the trash."},
    };
    auto it = kTable.find(id);
    return it == kTable.end() ? std::string() : it->second;
}
