// The per-system parts beneath launcher.h; launcher.cpp, which both systems
// share, checks the name and writes the desktop launcher through them.
#pragma once

#include <string>
#include <vector>

#include "platform/launcher.h"

namespace platform::sys {

// True when the name can be a launcher's file name on this system.
bool IsLauncherName(const std::string& name);
// The launcher's file name in a folder: the name and the system's ending.
std::string LauncherFileName(const std::string& name);
// Writes the launcher file at path, replacing an earlier one whole.
bool WriteLauncherFile(const std::string& path, const Launcher& launcher);
// The launchers besides the desktop's (Linux: the applications menu), with
// a note for each one skipped or not written.
void WriteOtherLaunchers(const Launcher& launcher, std::vector<std::string>* pNotes);

}  // namespace platform::sys
