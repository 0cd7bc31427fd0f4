// Where a 7z package's solid blocks begin in its list of entries, read from
// the package's own header. Only a hint for sharing the unpacking among
// threads: the archive library still reads and checks every entry, so a
// header that lies costs time, never correctness.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PackageLayout {
  int nEntries = 0;
  // For each solid block holding data, the index of its first entry, in
  // rising order. Entries without data belong to the block before them.
  std::vector<int> blockStarts;
  std::vector<uint64_t> blockSizes;  // each one's unpacked bytes, as claimed
};

// False when the package's header cannot be read or is of a kind not
// handled here (an encrypted header, say); the caller then unpacks in one
// pass.
bool ReadPackageLayout(const std::string& path, PackageLayout* pLayout);

// The same, from the package's bytes in memory; for the fuzzer and tests.
bool ParsePackageLayout(const unsigned char* pData, size_t nSize, PackageLayout* pLayout);
