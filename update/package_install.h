// Fetching the update package into the install folder's download area,
// unpacking it with every CRC checked, and moving the tree over the install
// folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/message.h"
#include "update/prompt.h"

// Told the share of a package's entries handled, 0 to 100.
using InstallProgressFn = std::function<void(int nPercent)>;

class CGameUpdate {
 public:
  virtual ~CGameUpdate() = default;

  // Fills pListText with the URL list of DownloadList and downloads it into
  // <installDir>/Download/<nId> through NN_Down_nn. Its result, or -1 when
  // installDir is empty.
  int32_t DownloadPackages(const std::u16string& installDir, std::u16string* pListText,
                           platform::HWND hWnd, int32_t nId);

  // Moves everything under source over target; a file that cannot be
  // replaced now is moved aside, or replaced at the next start: then the
  // result is false, since the tree is not complete yet.
  bool MoveFiles(const std::string& source, const std::string& target);
};

// Unpacks every package of DownloadList into <installDir>/Download/tmp/ and
// moves the tree over the install folder; a package is deleted once its
// tree is in place. A damaged package (or, with a signing key, one whose
// signature fails) is deleted and reported by asking with OK alone.
// False when installDir is empty, a package is damaged, a file cannot be
// written or a file could not be replaced now: the installation is then not
// complete and the caller asks to retry.
bool InstallPackages(const InstallProgressFn& progress, const std::u16string& installDir,
                     const AskFn& ask = PlainPrompt);

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
ExtractResult ExtractPackageBlocks(const InstallProgressFn& progress, const std::string& packagePath,
                                   const std::string& unpackFolder, const BlockUnpack& plan);

// An entry's name as a path beneath the unpack folder: "." and ".." resolved
// lexically, "\\" read as "/". False when it is empty, absolute, climbs
// above its start or holds a ":" (a drive on the design's home platform).
bool NormaliseEntryName(const std::string& path, std::string* pOut);

// Moves that could not be done now, recorded for the next start.
std::string PendingMovesPath(const std::u16string& installDir);
// Records "replace target with source" (source empty: delete target) in
// the list of InstallDir; false when there is no install folder yet.
bool ScheduleMoveAtRestart(const std::string& source, const std::string& target);
// Carries out and forgets the recorded moves. Returns how many were done.
int RunPendingMoves(const std::u16string& installDir);
