// For the POSIX files only: what the real machine answers, behind the
// environment of env.h.
#pragma once

#include <vector>

#include "platform/process.h"
#include "platform/system.h"

namespace platform {

std::vector<ProcessEntry> MachineProcessSnapshot();
std::vector<DriveInfo> MachineFixedDrives();

}  // namespace platform
