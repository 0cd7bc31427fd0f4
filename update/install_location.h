// Where the client lives (the install folder), the registry values that
// record it for the product's other programs, and the desktop launcher.
#pragma once

#include <cstdint>
#include <string>

#include "update/launch_settings.h"

// Decides the install folder (pSettings->InstallDir) for the settings'
// edition: the "STARTUP" value when there is one, else the default folder on
// the drive with the most free space (the working folder when there is no
// drive at all). Writes "PeloDownPath", notes the "STARTUP" value in the run
// log and creates the folder's last level. On the user-interface thread,
// before the update's worker starts.
void DiscoverInstallDir(UpdateSettings* pSettings);

// The "STARTUP" value of the edition's key; "" when absent. A value of 260
// units or more counts as absent.
std::u16string ReadStartupValue(const std::u16string& editionSuffix);
// Records the folder as "STARTUP" (creating the key); nothing when empty.
void WriteStartupValue(const std::u16string& editionSuffix, const std::u16string& folder);
// "PeloDownPath" and "PeloLoginHandle" under the "Morvanic" key, which is
// never created here. The registry's result code.
int32_t WriteDownPath(const std::u16string& path);
int32_t WriteLoginHandle(uint32_t dwValue);

bool Is64BitWindows();

// The registry key name of the edition.
std::u16string StartupKeyName(const std::u16string& editionSuffix);
inline constexpr const char16_t* kMorvanicKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvanic";

// The edition's default folder name under a drive root, with "/" separators.
std::u16string DefaultFolderName(const std::u16string& editionSuffix);

// Writes the launchers for InstallDir/play.exe named ShortcutName
// (platform/launcher.h), and
// prints "创建成功" on standard output once the desktop one is written. A
// launcher that cannot be written is skipped with a run-log note. True when
// the desktop launcher was written.
bool CreateDesktopShortcut(const UpdateSettings& settings);
