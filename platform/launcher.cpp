#include "platform/launcher.h"

#include "platform/launcher_primitives.h"
#include "platform/system.h"

namespace platform {

LauncherResult WriteLaunchers(const Launcher& launcher) {
  LauncherResult result;
  if (!sys::IsLauncherName(launcher.name)) {
    result.notes.push_back("launcher skipped: \"" + launcher.name + "\" cannot be a file name");
    return result;
  }
  sys::WriteOtherLaunchers(launcher, &result.notes);
  const std::string desktop = DesktopFolder();
  if (desktop.empty()) {
    result.notes.push_back("desktop launcher skipped: no desktop folder");
    return result;
  }
  const std::string path = desktop + "/" + sys::LauncherFileName(launcher.name);
  result.bDesktop = sys::WriteLauncherFile(path, launcher);
  if (!result.bDesktop) result.notes.push_back("desktop launcher not written: " + path);
  return result;
}

}  // namespace platform
