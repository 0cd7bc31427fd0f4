// The update that costs only what changed. The package's start header and
// header are read by ranged requests; every entry is compared with what the
// install folder holds (the manifest of the last install, else the file's
// CRC32); only the solid blocks that hold a changed or missing entry are
// fetched, over parallel connections, into a local copy of the package that
// lacks the others; each block is unpacked as soon as its bytes are in, and
// the tree of changed entries moves over the install folder at the end.
// Killed at any moment, the next start fetches only what it still lacks.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message.h"
#include "update/package_install.h"
#include "update/prompt.h"

enum class DeltaOutcome {
  kWholePackage,  // the server, the package or the list does not allow it: fetch the whole
  kInstalled,     // the install folder holds the package's tree
  kDamaged,       // a block failed its checks; the player was told
  kFetchFailed,   // the blocks could not be fetched now
  kInstallFailed, // a file could not be written or replaced now
};

// Updates installDir from the package at packageUrl ("http://.../qarn.7z").
// Download progress goes to hProgress as the engine's notifications (0 for
// none), the unpacking's to progress.
DeltaOutcome RunDeltaUpdate(const std::u16string& installDir, const std::string& packageUrl,
                            platform::HWND hProgress, const InstallProgressFn& progress,
                            const AskFn& ask);

// Where an interrupted update keeps the blocks it fetched.
std::string DeltaFolder(const std::string& installRoot);
