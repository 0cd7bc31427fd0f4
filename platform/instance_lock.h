// The single-instance lock: held by one process at a time and released by
// the kernel when that process ends, however it ends.
#pragma once

#include <string>

namespace platform {

// Takes the lock named `name` ("<name>.lock" in $XDG_RUNTIME_DIR, else the
// temporary folder) for the rest of the process's life. False when another
// process holds it.
bool AcquireInstanceLock(const std::string& name);

}  // namespace platform
