// What the machine offers the updater: drives to install on, the
// processor's word size and the user's desktop folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct DriveInfo {
  std::string root;          // ends in "/"
  uint64_t llFreeBytes = 0;  // 0 when it cannot be told
};

// The user's home folder first, then every mounted file system backed by a
// block device whose mount point the user can write to, in mount order. Asks
// the current environment (env.h), which tests replace. On the machine, when
// the environment variable kDriveScopeVariable names a folder, only drives
// beneath it are seen: a test confines the drives of an updater it starts
// as a process of its own, so that it never installs on the machine's disks.
std::vector<DriveInfo> ListFixedDrives();
inline constexpr const char* kDriveScopeVariable = "QARNAUTO_DRIVE_SCOPE";

// True on a 64-bit machine (x86_64, aarch64, ...).
bool IsNative64Bit();

// The XDG desktop folder (XDG_DESKTOP_DIR of user-dirs.dirs, else ~/Desktop);
// "" when that folder does not exist.
std::string DesktopFolder();

// The folder of the user's applications menu ($XDG_DATA_HOME/applications,
// else ~/.local/share/applications), created when missing; "" when it
// cannot be made.
std::string ApplicationsFolder();

}  // namespace platform
