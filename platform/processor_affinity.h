// Binding the process to one processor.
#pragma once

namespace platform {

// Lets the process run on the first processor it may use only (the lowest one of its
// current set, which is processor 0 unless the system keeps it from the process). False when
// the system refuses.
bool BindToFirstProcessor();

}  // namespace platform
