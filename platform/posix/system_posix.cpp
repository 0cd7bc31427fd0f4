#include <mntent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

#include "platform/env.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/system.h"

namespace platform {
namespace {

uint64_t FreeBytes(const std::string& path) {
  struct statvfs st {};
  if (::statvfs(path.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.f_bfree) * static_cast<uint64_t>(st.f_frsize);
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::vector<DriveInfo> RealDrives() {
  std::vector<DriveInfo> drives;
  const std::string scope = GetEnvironmentVariable(kDriveScopeVariable);
  const auto inScope = [&](const std::string& dir) {
    return scope.empty() || WithSlash(dir).rfind(WithSlash(scope), 0) == 0;
  };
  const std::string home = GetEnvironmentVariable("HOME");
  if (!home.empty() && DirectoryExists(home) && inScope(home)) {
    drives.push_back({WithSlash(home), FreeBytes(home)});
  }
  if (FILE* f = ::setmntent("/proc/self/mounts", "r")) {
    while (mntent* m = ::getmntent(f)) {
      if (std::strncmp(m->mnt_fsname, "/dev/", 5) != 0) continue;
      const std::string dir = m->mnt_dir;
      if (::access(dir.c_str(), W_OK) != 0 || !inScope(dir)) continue;
      bool bKnown = false;
      for (const DriveInfo& d : drives) bKnown = bKnown || d.root == WithSlash(dir);
      if (!bKnown) drives.push_back({WithSlash(dir), FreeBytes(dir)});
    }
    ::endmntent(f);
  }
  return drives;
}

}  // namespace

std::vector<DriveInfo> ListFixedDrives() { return CurrentEnv().FixedDrives(); }

std::vector<DriveInfo> MachineFixedDrives() { return RealDrives(); }

bool IsNative64Bit() {
  utsname u{};
  if (::uname(&u) != 0) return false;
  const std::string machine = u.machine;
  return machine.find("64") != std::string::npos || machine == "s390x";
}

std::string DesktopFolder() {
  const std::string home = GetEnvironmentVariable("HOME");
  std::string config = GetEnvironmentVariable("XDG_CONFIG_HOME");
  if (config.empty()) config = home + "/.config";
  std::string desktop = home + "/Desktop";
  std::ifstream dirs(config + "/user-dirs.dirs");
  std::string line;
  while (std::getline(dirs, line)) {
    if (line.rfind("XDG_DESKTOP_DIR=", 0) != 0) continue;
    std::string value = line.substr(16);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    desktop = value;
  }
  return DirectoryExists(desktop) ? desktop : std::string();
}

std::string ApplicationsFolder() {
  const std::string home = GetEnvironmentVariable("HOME");
  std::string data = GetEnvironmentVariable("XDG_DATA_HOME");
  // A relative value is invalid by the base-directory rules and is ignored.
  if (data.empty() || data.front() != '/') {
    if (home.empty()) return std::string();
    data = home + "/.local/share";
  }
  const std::string folder = data + "/applications";
  return CreateDirectories(folder) ? folder : std::string();
}

}  // namespace platform
