// PC entries taken away by the user: to the desktop's trash, from where they can be brought
// back, or for good.
#pragma once

#include <string>

namespace platform {

// Moves a file or folder (with everything in it) to the trash of the desktop (GIO); false
// with the reason when the volume has no trash or the move failed. Nothing is removed then.
bool MoveToTrash(const std::string& path, std::string* error);

// Removes a file, or a folder with everything below it, for good. A symbolic link is removed
// itself; what it points at is never touched. Stops at the first entry that cannot be
// removed (false with the reason); what was removed before it stays removed.
bool DeleteForGood(const std::string& path, std::string* error);

}  // namespace platform
