#include "app/windows/window_messages.h"

#include "controls/message_box_dialog.h"

void WindowMessages::ShowWarning(const std::string& text, const std::string& caption) {
    ShowMessageBox(parent_, text, caption, message_box::kIconExclamation);
}
