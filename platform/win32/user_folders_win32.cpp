#include <shlobj.h>
#include "platform/win32/win32_prelude.h"

#include "platform/file.h"
#include "platform/process.h"
#include "platform/user_folders.h"
#include "platform/win32/win32_util.h"

namespace platform {

std::string GetUserStateFolder(const std::string& app) {
  wchar_t* pPath = nullptr;
  std::string local;
  if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &pPath) == S_OK) {
    local = ToNativePath(Narrow(pPath));
  }
  ::CoTaskMemFree(pPath);
  if (local.empty()) return std::string();
  const std::string folder = local + "/" + app;
  return CreateDirectories(folder) && IsWritableDirectory(folder) ? folder : std::string();
}

// The design's program writes beside itself wherever it was put; only a
// folder it cannot write sends its notes elsewhere.
bool IsSystemProgramFolder(const std::string&) { return false; }

std::string GetNotesFolder(const std::string& app, const std::string& exeFolder) {
  if (IsWritableDirectory(exeFolder)) return exeFolder;
  const std::string state = GetUserStateFolder(app);
  return state.empty() ? exeFolder : state;
}

std::string GetLibraryNotesFolder(const std::string&) { return std::string(); }

}  // namespace platform
