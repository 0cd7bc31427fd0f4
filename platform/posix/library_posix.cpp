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

// An ELF executable carries no resources: the build links them as a table.
bool FindOwnResource(const std::string&, int, const unsigned char**, size_t*) { return false; }

}  // namespace platform
