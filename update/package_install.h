// Fetching the update package into the install folder's download area,
// unpacking it with every CRC checked, and moving the tree over the install
// folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/message.h"
#include "update/launch_settings.h"
#include "update/package_unpack.h"
#include "update/prompt.h"

// The settings' update location, download list and install folder.
class CGameUpdate {
 public:
  explicit CGameUpdate(const UpdateSettings& settings) : settings_(settings) {}
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

 private:
  const UpdateSettings& settings_;
};

// Unpacks every package of the settings' DownloadList into
// <InstallDir>/Download/tmp/ and
// moves the tree over the install folder; a package is deleted once its
// tree is in place. A damaged package (or, with a signing key, one whose
// signature fails) is deleted and reported by asking with OK alone.
// False when InstallDir is empty, a package is damaged, a file cannot be
// written or a file could not be replaced now: the installation is then not
// complete and the caller asks to retry.
bool InstallPackages(const InstallProgressFn& progress, const UpdateSettings& settings,
                     const AskFn& ask = PlainPrompt);
