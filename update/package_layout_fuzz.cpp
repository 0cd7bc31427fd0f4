// Fuzz target: any bytes as a package's header, behind a start header whose
// CRCs hold, so that mutations reach the header's parser rather than stop
// at its checksum. The layout read from them, when one is, names block
// starts in rising order within the entries.
#include <lzma.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "update/package_layout.h"

namespace {

void Put(unsigned char* p, uint64_t v, int nBytes) {
  for (int i = 0; i < nBytes; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  std::vector<unsigned char> package(32 + nSize);
  const unsigned char signature[8] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4};
  std::memcpy(package.data(), signature, sizeof signature);
  Put(&package[12], 0, 8);
  Put(&package[20], nSize, 8);
  Put(&package[28], lzma_crc32(pData, nSize, 0), 4);
  Put(&package[8], lzma_crc32(&package[12], 20, 0), 4);
  if (nSize > 0) std::memcpy(&package[32], pData, nSize);
  PackageLayout layout;
  if (!ParsePackageLayout(package.data(), package.size(), &layout)) return 0;
  int nLast = -1;
  for (int start : layout.blockStarts) {
    if (start <= nLast || start >= layout.nEntries) __builtin_trap();
    nLast = start;
  }
  if (layout.blockSizes.size() != layout.blockStarts.size()) __builtin_trap();
  return 0;
}
