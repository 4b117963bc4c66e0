// A system-wide lock named by an identifier, held until the process ends: the first copy of
// the program takes it, a second copy finds it taken.
#pragma once

#include <string>

namespace platform {

enum class InstanceLock { kTaken, kHeldElsewhere, kFailed };

// Takes the lock file `name`.lock in the user's runtime folder ($XDG_RUNTIME_DIR, else the
// temporary folder with the user id in the name). The lock stays with the process; the
// kernel drops it when the process ends, however it ends.
InstanceLock TakeSingleInstanceLock(const std::string& name);

}  // namespace platform
