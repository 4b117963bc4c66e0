// Messages the user must see (a message box in the windows, standard error on the command
// line), and the overwrite question.
#pragma once

#include <string>

class UserMessages {
  public:
    virtual ~UserMessages() = default;
    // An exclamation-mark message with its caption, such as "Attention!".
    virtual void ShowWarning(const std::string& text, const std::string& caption) = 0;
};

// Where the managers' messages go; standard error until something else is set.
UserMessages& Messages();
void SetMessages(UserMessages* messages);
