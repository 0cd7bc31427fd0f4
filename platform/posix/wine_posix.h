// Wine, which runs the Windows programs this system is asked to start.
#pragma once

#include <string>

namespace platform {

// The Wine to start Windows programs with: QARNAUTO_WINE when set, else
// "wine" on PATH, else "wine64" on PATH. "" when there is none.
std::string FindWine();

// True when a 32-bit Windows program can run: Debian's wine32 loader (from
// the i386 architecture) is installed, or the Wine found has a 32-bit loader
// beside it.
bool WineRuns32Bit(const std::string& wine);

}  // namespace platform
