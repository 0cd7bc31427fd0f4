// Fetching the update package into the install folder's download area,
// unpacking it with every CRC checked, and moving the tree over the install
// folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/message.h"
#include "update/package_unpack.h"
#include "update/prompt.h"

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
