// What the updater last installed: for each file it wrote, its size,
// modification time and CRC32. A file whose size and time still match its
// record is taken to hold the recorded bytes without reading it; any other
// file is read. Kept beside the install folder's data, in its Download
// folder.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/error.h"

struct ManifestRecord {
  int64_t nSize = 0;
  int64_t nModified = 0;  // seconds since 1970
  int32_t nModifiedNs = 0;
  uint32_t nCrc = 0;
};

// By the file's name key (platform::FileNameKey of its path beneath the
// install folder).
using InstallManifest = std::unordered_map<std::string, ManifestRecord>;

std::string ManifestPath(const std::string& installRoot);

// The records of the file; empty when it is missing or cannot be read (a
// damaged line ends the reading: what follows is not trusted).
InstallManifest ReadManifest(const std::string& path);

// Writes the records of the named files (paths beneath installRoot) as
// they are on the disk now, each with the given CRC; a file missing or of
// another size than expected is left out. Replaces the file whole, so a
// crash leaves the old one or the new one; a failure says why.
struct ManifestFile {
  std::string name;
  int64_t nSize = 0;
  uint32_t nCrc = 0;
};
platform::Outcome WriteManifest(const std::string& installRoot,
                                const std::vector<ManifestFile>& files);

// The CRC32 of the file's bytes; false when it cannot be read whole.
bool FileCrc32(const std::string& path, uint32_t* pCrc);
