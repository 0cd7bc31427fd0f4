#include <dlfcn.h>

#include "platform/library.h"

namespace platform {

LibraryHandle LoadLibrary(const std::string& path) {
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(LibraryHandle hLibrary, const char* szName) {
  return hLibrary == nullptr ? nullptr : ::dlsym(hLibrary, szName);
}

void FreeLibrary(LibraryHandle hLibrary) {
  if (hLibrary != nullptr) ::dlclose(hLibrary);
}

}  // namespace platform
