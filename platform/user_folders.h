// Where a program keeps what belongs to the user running it: its notes (run
// log, crash dump) and its state.
#pragma once

#include <string>

namespace platform {

// The user's state folder of the program `app` ($XDG_STATE_HOME/app, by
// default ~/.local/state/app), created when missing. Empty when it cannot
// be made or written.
std::string GetUserStateFolder(const std::string& app);

// True when the executable in `folder` is installed system-wide: the folder
// is a system program folder (the build's installation folder or one of the
// distribution's), or it is not the running user's own. Such a folder is
// not the user's to write notes into, even when root could.
bool IsSystemProgramFolder(const std::string& folder);

// The folder in which the program `app`, run from the executable in
// `exeFolder`, writes its notes: that folder itself, as a program unpacked
// anywhere always has; the user's state folder when the program is
// installed system-wide or its own folder cannot be written.
std::string GetNotesFolder(const std::string& app, const std::string& exeFolder);
// GetNotesFolder for the running executable.
std::string GetOwnNotesFolder(const std::string& app);

// Where the library `library`, loaded by another program, writes its notes:
// the user's state folder here (the calling program's working folder is
// not ours to write into); "" on Windows, where the design's library writes
// them into the calling program's working folder.
std::string GetLibraryNotesFolder(const std::string& library);

}  // namespace platform
