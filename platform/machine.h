// For the platform's own use: what the real machine answers, which each
// system's files give and the machine environment (env.h) hands on.
#pragma once

#include <vector>

#include "platform/process.h"
#include "platform/system.h"

namespace platform {

std::vector<ProcessEntry> MachineProcessSnapshot();
std::vector<DriveInfo> MachineFixedDrives();

}  // namespace platform
