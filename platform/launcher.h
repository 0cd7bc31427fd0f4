// The launchers a player starts a program from: the design's desktop
// shortcut. Here a desktop entry (".desktop") on the desktop and in the
// applications menu, which is where Linux desktops look for programs; on
// Windows a shell link (".lnk") on the desktop.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct Launcher {
  std::string name;           // what the player sees; also the file's name
  std::string program;        // the program's path, started the way the system runs it
  std::string workingFolder;  // where it starts
  std::string comment;        // a line of description
};

struct LauncherResult {
  bool bDesktop = false;           // the desktop launcher was written
  std::vector<std::string> notes;  // one line for each launcher skipped or not written
};

// Writes the launchers of the program, each replacing an earlier one whole.
// A launcher that cannot be written (no such folder, a name that cannot be a
// file name) is skipped with a note.
LauncherResult WriteLaunchers(const Launcher& launcher);

}  // namespace platform
