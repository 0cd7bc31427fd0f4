// The publisher's side of an update package: a folder's tree written as a
// standard 7z (LZMA2) in several solid blocks, so that the updater can
// unpack the blocks on several cores while any 7z program still reads it.
#pragma once

#include <cstdint>
#include <string>

struct PackOptions {
  // As 7-Zip's default level.
  uint32_t nDictionary = 16u << 20;
  // A block closes once it holds this much (a file is never split); 0:
  // 4 MiB, so that an update fetches little more than the files that
  // changed, while every core shares the unpacking.
  uint64_t nBlockTarget = 0;
  int nThreads = 0;  // 0: one per core, at most four
};

// Writes folder's tree (files and folders; a link fails the call) to
// outPath, through a temporary file beside it that replaces outPath only
// when complete. False with a reason in *pError.
bool PackFolder(const std::string& folder, const std::string& outPath, const PackOptions& options,
                std::string* pError);
