// Loading shared libraries at run time.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

using LibraryHandle = void*;

// Loads the library with its symbols kept local; nullptr on failure.
LibraryHandle LoadLibrary(const std::string& path);
// The address of an exported symbol, or nullptr.
void* GetProcAddress(LibraryHandle hLibrary, const char* szName);
void FreeLibrary(LibraryHandle hLibrary);

// The bytes of the running executable's own resource (type, nId) where the
// system keeps resources inside executables (Windows): a "PNG" or "XML" as
// its file, an "ICON" as the .ico file it was made from. They live as long
// as the process. False where executables carry none (the build links its
// own table instead), and when there is no such resource.
bool FindOwnResource(const std::string& type, int nId, const unsigned char** ppData,
                     size_t* pnSize);

}  // namespace platform
