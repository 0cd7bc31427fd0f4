// Fetching the update package into the install folder's download area,
// unpacking it with every CRC checked, and moving the tree over the install
// folder.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message.h"

inline constexpr uint32_t WM_INSTALL_PROGRESS = 1326;  // wParam percent, lParam 5665
inline constexpr platform::LPARAM kInstallProgressTag = 5665;

class CGameUpdate {
 public:
  virtual ~CGameUpdate() = default;

  // Fills pListText with the URL list of DownloadList and downloads it into
  // <installDir>/Download/<nId> through NN_Down_nn. Its result, or -1 when
  // installDir is empty.
  int32_t DownloadPackages(const std::u16string& installDir, std::u16string* pListText,
                           platform::HWND hWnd, int32_t nId);

  // Moves everything under source over target; a file that cannot be
  // replaced now is moved aside or replaced at the next start.
  bool MoveFiles(const std::string& source, const std::string& target);
};

// Unpacks every package of DownloadList into <installDir>/Download/tmp/ and
// moves the tree over the install folder. A damaged package is reported in
// a message box and kept; false only when installDir is empty.
bool InstallPackages(platform::HWND hWnd, const std::u16string& installDir);

// Unpacks one 7z package into the folder (ending in "/"). False when it
// cannot be read, fails a CRC, is not a 7z archive, names a path outside the
// folder or a file cannot be written.
bool ExtractPackage(platform::HWND hWnd, const std::string& packagePath,
                    const std::string& unpackFolder);

// Moves that could not be done now, recorded for the next start.
std::string PendingMovesPath(const std::u16string& installDir);
// Records "replace target with source" (source empty: delete target) in
// the list of InstallDir; false when there is no install folder yet.
bool ScheduleMoveAtRestart(const std::string& source, const std::string& target);
// Carries out and forgets the recorded moves. Returns how many were done.
int RunPendingMoves(const std::u16string& installDir);
