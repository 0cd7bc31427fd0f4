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
#include "platform/help_line.h"
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

std::string SystemHelpText(const std::string& app, const HelpLines& files,
                           const HelpLines& variables) {
  std::string text = "Files:\n";
  AddHelpLine(&text, 34, "$XDG_CONFIG_HOME/" + app + "/registry",
              "the install folder and other values");
  AddHelpLine(&text, 34, "$XDG_RUNTIME_DIR/" + app + ".lock", "the single-instance lock");
  for (const auto& [name, what] : files)
    AddHelpLine(&text, 34, name, what + ", in the working folder");
  text +=
      "The working folder is the executable's folder; installed system-wide (a\n"
      "system program folder, or one the user does not own) or where that one\n"
      "cannot be written, $XDG_STATE_HOME/" +
      app +
      ".\n"
      "\n"
      "Environment:\n";
  HelpLines allVariables = variables;
  allVariables.push_back({"QARNAUTO_WINE", "the Wine that starts a Windows client"});
  allVariables.push_back({"DISPLAY", "the X display of the skinned window"});
  for (const auto& [name, what] : allVariables) AddHelpLine(&text, 18, name, what);
  text +=
      "\n"
      "With a reachable X display " +
      app +
      " shows its skinned window with the\n"
      "download and installation bars, and asks its questions in small windows\n"
      "(Enter for OK, Escape for Cancel). Without one it runs in the terminal:\n"
      "progress on standard error, questions answered on standard input (y, yes\n"
      "or ok for OK, anything else Cancel).\n";
  return text;
}

}  // namespace platform
