// What the two panes share in the process: the receiver pane's folder, the open edit's mode,
// the name last seen selected, and the list the last gathering returned.
#pragma once

#include <string>

#include "panes/dir_entry.h"
#include "panes/receiver_path_rules.h"

struct PaneState {
    // The receiver pane's folder; never ends in "\" except the root.
    std::string receiver_path = kReceiverRoot;
    // A new folder row is being named; sorting leaves the rows as they are meanwhile.
    bool new_folder_mode = false;
    // A rename edit of an existing row is open.
    bool label_edit = false;
    std::string last_selected_name;
    // What GetSelectedEntries returned last; valid until its next call.
    CDirList gathered;
};

PaneState& SharedPaneState();
