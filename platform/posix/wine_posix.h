// Wine, which runs the Windows programs this system is asked to start.
#pragma once

#include <string>

namespace platform {

// The Wine to start Windows programs with: QARNAUTO_WINE when set, else
// "wine" on PATH, else "wine64" on PATH. "" when there is none.
std::string FindWine();

// The 32-bit loader that runs a 32-bit Windows program: the Wine found
// itself, or one beside it, or Debian's wine32 loader (from the i386
// architecture). "" when there is none.
std::string Wine32BitLoader(const std::string& wine);

// True when Wine32BitLoader finds one.
bool WineRuns32Bit(const std::string& wine);

// False when the kernel refuses to run the program's format ("Exec format
// error": a 32-bit program on a kernel whose 32-bit support is off). Runs it
// with "--version".
bool KernelLoads(const std::string& program);

}  // namespace platform
