#include "update/install_location.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "engine/engine_log.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/launcher.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/text.h"
#include "update/launch_settings.h"

namespace {

void Note(const std::string& text) { AppendRunLog(platform::Utf8ToUtf16(text)); }

// Other programs read these values: the system's own form of the path.
std::u16string SystemPath(const std::u16string& path) {
  return platform::Utf8ToUtf16(platform::ToSystemPath(platform::Utf16ToUtf8(path)));
}

}  // namespace

bool Is64BitWindows() { return platform::IsNative64Bit(); }

std::u16string StartupKeyName(const std::u16string& editionSuffix) {
  const std::u16string suffix = !editionSuffix.empty() ? editionSuffix : u"EN";
  return u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\QARN_STARTUP_" + suffix;
}

namespace {

// The suffix as one folder name: it may not name another folder ("/",
// "\\", "." or "..") or hold control characters.
std::u16string SuffixFolder(const std::u16string& editionSuffix) {
  std::u16string folder = editionSuffix;
  for (char16_t& c : folder) {
    if (c == u'/' || c == u'\\' || c < 0x20 || c == 0x7F) c = u'_';
  }
  if (folder == u"." || folder == u"..") folder = u"_";
  return folder;
}

}  // namespace

std::u16string DefaultFolderName(const std::u16string& editionSuffix) {
  if (!editionSuffix.empty()) return u"program files (x86)/Talvora/" + SuffixFolder(editionSuffix);
  return Is64BitWindows() ? u"program files (x86)/Talvora/enqarn" : u"program files/Talvora/enqarn";
}

std::u16string ReadStartupValue(const std::u16string& editionSuffix) {
  std::u16string value;
  if (platform::RegQueryString(StartupKeyName(editionSuffix), u"STARTUP", &value) !=
      platform::kRegOk) {
    return u"";
  }
  if (value.size() >= static_cast<size_t>(kInstallDirCapacity)) return u"";
  return value;
}

void WriteStartupValue(const std::u16string& editionSuffix, const std::u16string& folder) {
  if (folder.empty()) return;
  const std::u16string key = StartupKeyName(editionSuffix);
  if (platform::RegCreateKey(key) != platform::kRegOk) return;
  platform::RegSetString(key, u"STARTUP", SystemPath(folder));
}

int32_t WriteDownPath(const std::u16string& path) {
  return platform::RegSetString(kMorvanicKey, u"PeloDownPath", SystemPath(path));
}

int32_t WriteLoginHandle(uint32_t dwValue) {
  return platform::RegSetDword(kMorvanicKey, u"PeloLoginHandle", dwValue);
}

void DiscoverInstallDir(UpdateSettings* pSettings) {
  // Free space in whole GiB to drive root; a tie keeps the earlier drive.
  std::map<uint64_t, std::string> drives;
  for (const platform::DriveInfo& d : platform::ListFixedDrives()) {
    drives.emplace(d.llFreeBytes / (1024ull * 1024 * 1024), d.root);
  }
  const std::u16string startup = ReadStartupValue(pSettings->EditionSuffix);
  if (!startup.empty()) {
    pSettings->InstallDir = InstallFolderSetting(startup);
  } else {
    // No drive at all: the working folder is the one place known to exist.
    std::string root = drives.empty() ? platform::GetCurrentDirectory() : drives.rbegin()->second;
    if (root.empty() || root.back() != '/') root += '/';
    pSettings->InstallDir = InstallFolderSetting(platform::Utf8ToUtf16(root) +
                                                 DefaultFolderName(pSettings->EditionSuffix));
  }
  WriteDownPath(pSettings->InstallDir);
  AppendRunLog(startup);
  (void)platform::CreateDirectory(platform::Utf16ToUtf8(pSettings->InstallDir));
}

bool CreateDesktopShortcut(const UpdateSettings& settings) {
  const std::string name = !settings.ShortcutName.empty()
                               ? platform::Utf16ToUtf8(settings.ShortcutName)
                               : "EnValdris2_Demo";
  const std::string folder = platform::Utf16ToUtf8(settings.InstallDir);
  const platform::LauncherResult result =
      platform::WriteLaunchers({name, folder + "/play.exe", folder, "EnValdris2_Demo"});
  for (const std::string& note : result.notes) Note(note);
  if (!result.bDesktop) return false;
  std::printf("创建成功\n");
  std::fflush(stdout);
  return true;
}
