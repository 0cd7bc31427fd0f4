// Where a 7z package's solid blocks begin in its list of entries, read from
// the package's own header. Only a hint for sharing the unpacking among
// threads: the archive library still reads and checks every entry, so a
// header that lies costs time, never correctness.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"

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

// What a package's header says of one entry.
struct PackageIndexEntry {
  std::string name;  // as the package names it (UTF-8), not yet checked
  bool bDirectory = false;
  bool bHasData = false;  // false for a folder or an empty file
  uint64_t nSize = 0;
  bool bCrc = false;
  uint32_t nCrc = 0;
  int nBlock = -1;  // the block holding its data; -1 without data
};

// One solid block: where its packed bytes lie in the package.
struct PackageIndexBlock {
  uint64_t nPackOffset = 0;  // from the package's first byte
  uint64_t nPackSize = 0;
  uint64_t nUnpackSize = 0;     // its final output
  uint64_t nLargestOutput = 0;  // of any of its coders
  int nFirstEntry = 0;          // its first entry with data
};

// A package's whole table of contents, read from its start header and
// header alone, which is all a ranged reader needs to fetch first.
struct PackageIndex {
  std::vector<PackageIndexEntry> entries;  // in the package's order
  std::vector<PackageIndexBlock> blocks;
  uint64_t nFileSize = 0;      // what the start header makes the package's size
  uint64_t nHeaderOffset = 0;  // where the header begins; the blocks lie before
  // The byte ranges (offset, size) the header is read from: the start
  // header, the header and, for an encoded header, its packed bytes.
  std::vector<std::pair<uint64_t, uint64_t>> headerRanges;
};

// Reads nSize bytes at nOffset of a package; false when they cannot be had.
using ReadAtFn = std::function<bool(uint64_t nOffset, size_t nSize, std::string* pOut)>;

// False when the start header or header cannot be read, or is of a kind
// not handled here.
bool ReadPackageIndex(const ReadAtFn& readAt, PackageIndex* pIndex);
bool ParsePackageIndex(const unsigned char* pData, size_t nSize, PackageIndex* pIndex);

// The reader of an open file (which must outlive it).
ReadAtFn FileReader(const platform::CFile& file);
