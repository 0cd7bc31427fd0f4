// The machine's own answers, which the machine environment (env.h) gives
// unless a test replaces them.
#pragma once

#include <vector>

#include "platform/process.h"
#include "platform/system.h"

namespace platform {

std::vector<ProcessEntry> MachineProcessSnapshot();
std::vector<DriveInfo> MachineFixedDrives();

}  // namespace platform
