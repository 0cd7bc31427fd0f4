#include "platform/user_folders.h"

#include "platform/process.h"

namespace platform {

std::string GetOwnNotesFolder(const std::string& app) {
  std::string folder = GetModuleFolder();
  if (folder.size() > 1) folder.pop_back();
  return GetNotesFolder(app, folder);
}

}  // namespace platform
