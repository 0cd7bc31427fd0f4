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

char16_t InstallDir[kInstallDirCapacity] = u"";

namespace {

void SetInstallDir(std::u16string folder) {
  // Kept with "/" separators, which every system's file calls take.
  std::replace(folder.begin(), folder.end(), u'\\', u'/');
  const size_t n = std::min(folder.size(), static_cast<size_t>(kInstallDirCapacity - 1));
  std::copy_n(folder.data(), n, InstallDir);
  InstallDir[n] = u'\0';
}

void Note(const std::string& text) { AppendRunLog(platform::Utf8ToUtf16(text)); }

// Other programs read these values: the system's own form of the path.
std::u16string SystemPath(const std::u16string& path) {
  return platform::Utf8ToUtf16(platform::ToSystemPath(platform::Utf16ToUtf8(path)));
}

}  // namespace

bool Is64BitWindows() { return platform::IsNative64Bit(); }

std::u16string StartupKeyName() {
  const std::u16string suffix = EditionSuffix[0] != u'\0' ? EditionSuffix : u"EN";
  return u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\QARN_STARTUP_" + suffix;
}

namespace {

// The suffix as one folder name: it may not name another folder ("/",
// "\\", "." or "..") or hold control characters.
std::u16string SuffixFolder() {
  std::u16string folder = EditionSuffix;
  for (char16_t& c : folder) {
    if (c == u'/' || c == u'\\' || c < 0x20 || c == 0x7F) c = u'_';
  }
  if (folder == u"." || folder == u"..") folder = u"_";
  return folder;
}

}  // namespace

std::u16string DefaultFolderName() {
  if (EditionSuffix[0] != u'\0') return u"program files (x86)/Talvora/" + SuffixFolder();
  return Is64BitWindows() ? u"program files (x86)/Talvora/enqarn" : u"program files/Talvora/enqarn";
}

std::u16string ReadStartupValue() {
  std::u16string value;
  if (platform::RegQueryString(StartupKeyName(), u"STARTUP", &value) != platform::kRegOk) return u"";
  if (value.size() >= static_cast<size_t>(kInstallDirCapacity)) return u"";
  return value;
}

void WriteStartupValue(const std::u16string& folder) {
  if (folder.empty()) return;
  if (platform::RegCreateKey(StartupKeyName()) != platform::kRegOk) return;
  platform::RegSetString(StartupKeyName(), u"STARTUP", SystemPath(folder));
}

int32_t WriteDownPath(const std::u16string& path) {
  return platform::RegSetString(kMorvanicKey, u"PeloDownPath", SystemPath(path));
}

int32_t WriteLoginHandle(uint32_t dwValue) {
  return platform::RegSetDword(kMorvanicKey, u"PeloLoginHandle", dwValue);
}

void DiscoverInstallDir() {
  // Free space in whole GiB to drive root; a tie keeps the earlier drive.
  std::map<uint64_t, std::string> drives;
  for (const platform::DriveInfo& d : platform::ListFixedDrives()) {
    drives.emplace(d.llFreeBytes / (1024ull * 1024 * 1024), d.root);
  }
  const std::u16string startup = ReadStartupValue();
  if (!startup.empty()) {
    SetInstallDir(startup);
  } else {
    // No drive at all: the working folder is the one place known to exist.
    std::string root = drives.empty() ? platform::GetCurrentDirectory() : drives.rbegin()->second;
    if (root.empty() || root.back() != '/') root += '/';
    SetInstallDir(platform::Utf8ToUtf16(root) + DefaultFolderName());
  }
  WriteDownPath(InstallDir);
  AppendRunLog(startup);
  platform::CreateDirectory(platform::Utf16ToUtf8(InstallDir));
}

bool CreateDesktopShortcut() {
  const std::string name =
      ShortcutName[0] != u'\0' ? platform::Utf16ToUtf8(ShortcutName) : "EnValdris2_Demo";
  const std::string folder = platform::Utf16ToUtf8(InstallDir);
  const platform::LauncherResult result =
      platform::WriteLaunchers({name, folder + "/play.exe", folder, "EnValdris2_Demo"});
  for (const std::string& note : result.notes) Note(note);
  if (!result.bDesktop) return false;
  std::printf("创建成功\n");
  std::fflush(stdout);
  return true;
}
