// Loading shared libraries at run time.
#pragma once

#include <string>

namespace platform {

using LibraryHandle = void*;

// Loads the library with its symbols kept local; nullptr on failure.
LibraryHandle LoadLibrary(const std::string& path);
// The address of an exported symbol, or nullptr.
void* GetProcAddress(LibraryHandle hLibrary, const char* szName);
void FreeLibrary(LibraryHandle hLibrary);

}  // namespace platform
