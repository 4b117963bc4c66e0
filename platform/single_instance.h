// A system-wide lock named by an identifier, held until the process ends: the first copy of
// the program takes it, a second copy finds it taken.
#pragma once

#include <string>

namespace platform {

enum class InstanceLock { kTaken, kHeldElsewhere, kFailed };

// Takes the lock file `name`.lock in a folder only this user can write to: the runtime folder
// ($XDG_RUNTIME_DIR), else /tmp/tessel-UID, else the configuration folder; a folder that
// another user owns or may write to is never used. The lock stays with the process; the
// kernel drops it when the process ends, however it ends.
InstanceLock TakeSingleInstanceLock(const std::string& name);

}  // namespace platform
