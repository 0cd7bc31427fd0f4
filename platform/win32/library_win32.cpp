#include "platform/win32/win32_prelude.h"

#include "platform/library.h"
#include "platform/win32/win32_util.h"

namespace platform {

LibraryHandle LoadLibrary(const std::string& path) {
  return ::LoadLibraryW(WidePath(path).c_str());
}

void* GetProcAddress(LibraryHandle hLibrary, const char* szName) {
  if (hLibrary == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(hLibrary), szName));
}

void FreeLibrary(LibraryHandle hLibrary) {
  if (hLibrary != nullptr) ::FreeLibrary(static_cast<HMODULE>(hLibrary));
}

}  // namespace platform
