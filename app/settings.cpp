#include "app/settings.h"

#include "platform/profile_store.h"

namespace settings {

namespace {
int Read(const char* name, int fallback) {
    return platform::Profile().GetInt(kSection, name, fallback);
}
}  // namespace

int32_t BufferSize() {
    return Read("BufferSize", 65536);
}
int32_t LogLevel() {
    return Read("LogLevel", 1);
}
bool KeepEqualFiles() {
    return Read("KeepEqualFiles", 1) != 0;
}
bool AutoResumeFiles() {
    return Read("AutoResumeFiles", 1) != 0;
}
bool ShowTransferSummary() {
    return Read("ShowTransferSummary", 1) != 0;
}
void SetShowTransferSummary(bool show) {
    platform::Profile().WriteInt(kSection, "ShowTransferSummary", show ? 1 : 0);
}
bool VerifyCopies() {
    return Read("VerifyCopies", 0) != 0;
}
void SetVerifyCopies(bool verify) {
    platform::Profile().WriteInt(kSection, "VerifyCopies", verify ? 1 : 0);
}

}  // namespace settings
