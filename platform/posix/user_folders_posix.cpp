#include "platform/user_folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"

#ifndef QARNAUTO_INSTALL_BINDIR
#error "the build sets QARNAUTO_INSTALL_BINDIR to the installation's program folder"
#endif

namespace platform {

namespace {

// The folder without a trailing "/" (the root stays "/").
std::string Trimmed(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

std::string GetUserStateFolder(const std::string& app) {
  std::string state = GetEnvironmentVariable("XDG_STATE_HOME");
  // XDG_STATE_HOME must be absolute; a relative value counts as unset.
  if (state.empty() || state.front() != '/') {
    const std::string home = GetEnvironmentVariable("HOME");
    if (home.empty() || home.front() != '/') return std::string();
    state = home + "/.local/state";
  }
  const std::string folder = Trimmed(state) + "/" + app;
  return CreateDirectories(folder) && IsWritableDirectory(folder) ? folder : std::string();
}

bool IsSystemProgramFolder(const std::string& folder) {
  const std::string own = Trimmed(folder);
  for (const char* system : {QARNAUTO_INSTALL_BINDIR, "/usr/bin", "/usr/local/bin", "/usr/games",
                             "/usr/local/games", "/usr/sbin", "/usr/local/sbin", "/bin", "/sbin"}) {
    if (own == Trimmed(system)) return true;
  }
  struct stat st;
  return ::stat(own.c_str(), &st) == 0 && st.st_uid != ::geteuid();
}

std::string GetNotesFolder(const std::string& app, const std::string& exeFolder) {
  if (!IsSystemProgramFolder(exeFolder) && IsWritableDirectory(exeFolder)) return exeFolder;
  const std::string state = GetUserStateFolder(app);
  return state.empty() ? exeFolder : state;
}

std::string GetLibraryNotesFolder(const std::string& library) {
  return GetUserStateFolder(library);
}

}  // namespace platform
