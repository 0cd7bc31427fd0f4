// Fuzz target: any bytes as a package's header; the layout read from them,
// when one is, names block starts in rising order within the entries.
#include <cstdint>

#include "update/package_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  PackageLayout layout;
  if (!ParsePackageLayout(pData, nSize, &layout)) return 0;
  int nLast = -1;
  for (int start : layout.blockStarts) {
    if (start <= nLast || start >= layout.nEntries) __builtin_trap();
    nLast = start;
  }
  return 0;
}
