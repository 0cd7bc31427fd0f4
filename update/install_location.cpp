#include "update/install_location.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "engine/engine_log.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/text.h"
#include "update/client_launch.h"
#include "update/launch_settings.h"

char16_t InstallDir[kInstallDirCapacity] = u"";

namespace {

void SetInstallDir(std::u16string folder) {
  // Kernel paths use "/": the folder is kept in that form.
  std::replace(folder.begin(), folder.end(), u'\\', u'/');
  const size_t n = std::min(folder.size(), static_cast<size_t>(kInstallDirCapacity - 1));
  std::copy_n(folder.data(), n, InstallDir);
  InstallDir[n] = u'\0';
}

// Quotes an Exec argument as the desktop-entry format asks.
std::string QuoteExecArgument(const std::string& arg) {
  std::string out = "\"";
  // Reserved characters take a backslash, which the string level doubles.
  for (char c : arg) {
    if (c == '\\') {
      out += "\\\\\\\\";
      continue;
    }
    if (c == '"' || c == '`' || c == '$') out += "\\\\";
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

// A value of a desktop entry: line ends, tabs and the backslash escaped.
std::string EscapeValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out;
}

// The name becomes a file name inside the launcher folders: nothing that
// names another folder, and no control characters.
bool IsLauncherName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 200) return false;
  for (unsigned char c : name) {
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

// The Exec command: the client itself, or for a Windows client the same
// Wine (and prefix) the updater starts it with.
std::string LauncherCommand(const std::string& target) {
  std::vector<std::string> command;
  std::string why, note;
  if (!ClientCommand(target, {}, &command, &why, &note) || command.size() < 2) {
    return QuoteExecArgument(target);
  }
  std::string exec;
  const std::string prefix = platform::GetEnvironmentVariable("WINEPREFIX");
  if (!prefix.empty()) {
    exec += "env ";
    exec += QuoteExecArgument("WINEPREFIX=" + prefix);
  }
  for (const std::string& arg : command) {
    if (!exec.empty()) exec += ' ';
    exec += QuoteExecArgument(arg);
  }
  return exec;
}

std::string LauncherEntry(const std::string& name) {
  const std::string folder = platform::Utf16ToUtf8(InstallDir);
  return "[Desktop Entry]\nType=Application\nName=" + EscapeValue(name) +
         "\nComment=EnValdris2_Demo\nExec=" + LauncherCommand(folder + "/play.exe") +
         "\nPath=" + EscapeValue(folder) + "\nTerminal=false\n";
}

// Replaces the launcher at path whole: a reader never sees half of one.
bool WriteLauncher(const std::string& path, const std::string& entry) {
  const std::string tmp = path + ".new";
  platform::FileHandle f =
      platform::OpenFile(tmp, platform::kFileWrite, platform::FileDisposition::kCreateAlways);
  bool ok = f.IsValid() && platform::WriteFileAt(f, entry.data(), entry.size(), 0) == entry.size();
  platform::CloseFile(f);
  ok = ok && platform::SetExecutable(tmp) && platform::MoveFile(tmp, path);
  if (!ok) platform::DeleteFile(tmp);
  return ok;
}

void Note(const std::string& text) { AppendRunLog(platform::Utf8ToUtf16(text)); }

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
  platform::RegSetString(StartupKeyName(), u"STARTUP", folder);
}

int32_t WriteDownPath(const std::u16string& path) {
  return platform::RegSetString(kMorvanicKey, u"PeloDownPath", path);
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
  if (!IsLauncherName(name)) {
    Note("launcher skipped: \"" + name + "\" cannot be a file name");
    return false;
  }
  const std::string entry = LauncherEntry(name);
  // The menu is where Linux desktops look for programs; the design's
  // desktop launcher stays beside it.
  const std::string menu = platform::ApplicationsFolder();
  if (menu.empty()) {
    Note("menu launcher skipped: no applications folder");
  } else if (!WriteLauncher(menu + "/" + name + ".desktop", entry)) {
    Note("menu launcher not written: " + menu + "/" + name + ".desktop");
  }
  const std::string desktop = platform::DesktopFolder();
  if (desktop.empty()) {
    Note("desktop launcher skipped: no desktop folder");
    return false;
  }
  const std::string path = desktop + "/" + name + ".desktop";
  if (!WriteLauncher(path, entry)) {
    Note("desktop launcher not written: " + path);
    return false;
  }
  std::printf("创建成功\n");
  std::fflush(stdout);
  return true;
}
