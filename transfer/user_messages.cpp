#include "transfer/user_messages.h"

#include <cstdio>

namespace {
class StandardErrorMessages final : public UserMessages {
  public:
    void ShowWarning(const std::string& text, const std::string& caption) override {
        std::string line = text;
        for (size_t at = line.find("\r\n"); at != std::string::npos; at = line.find("\r\n", at))
            line.replace(at, 2, ": ");
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), line.c_str());
    }
};

StandardErrorMessages g_standard_error;
UserMessages* g_messages = &g_standard_error;
}  // namespace

UserMessages& Messages() {
    return *g_messages;
}

void SetMessages(UserMessages* messages) {
    g_messages = messages != nullptr ? messages : &g_standard_error;
}
