// Unpacking one 7z package into a folder, every entry's CRC checked: the
// whole package on up to four threads, or the blocks of one fetched by
// ranges as their bytes arrive.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Told the share of a package's entries handled, 0 to 100.
using InstallProgressFn = std::function<void(int nPercent)>;

enum class ExtractResult {
  kExtracted,
  kDamaged,      // unreadable, a CRC error, not 7z, a name outside the folder, a link
  kWriteFailed,  // a file of it could not be written (a full disk, say)
};

// Unpacks one 7z package into the folder (ending in "/"), creating no entry
// through a link.
ExtractResult ExtractPackage(const InstallProgressFn& progress, const std::string& packagePath,
                             const std::string& unpackFolder);

// Some blocks of a package whose other blocks may be absent (one fetched by
// ranges). Each run is one block's entries [first, end), decoded by one
// reader; nextRun hands out the index of a run whose bytes are in, blocking
// until there is one, and false once none is left or the fetch failed.
// Entries not wanted (by index in the package) are decoded and checked,
// not written. onFailure is called once when unpacking fails, from the
// thread that failed.
struct BlockUnpack {
  std::vector<std::pair<int, int>> runs;
  std::vector<bool> wanted;
  std::function<bool(size_t* pRun)> nextRun;
  std::function<void()> onFailure;
};
ExtractResult ExtractPackageBlocks(const InstallProgressFn& progress,
                                   const std::string& packagePath, const std::string& unpackFolder,
                                   const BlockUnpack& plan);

// An entry's name as a path beneath the unpack folder: "." and ".." resolved
// lexically, "\\" read as "/". False when it is empty, absolute, climbs
// above its start or holds a ":" (a drive on the design's home platform).
bool NormaliseEntryName(const std::string& path, std::string* pOut);
