#include "panes/windows/pane_state.h"

PaneState& SharedPaneState() {
    static PaneState state;  // destroyed at process exit
    return state;
}
