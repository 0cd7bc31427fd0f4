#include "platform/environment.h"
#include "platform/file.h"
#include "platform/launcher.h"
#include "platform/launcher_primitives.h"
#include "platform/program_start.h"
#include "platform/system.h"
#include "platform/text.h"

namespace platform {
namespace {

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

// The Exec command: the program itself, or for a Windows program the same
// Wine (and prefix) it is started with from here.
std::string LauncherCommand(const std::string& target) {
  std::vector<std::string> command;
  std::string note;
  if (!ProgramCommand(target, {}, &command, &note) || command.size() < 2) {
    return QuoteExecArgument(target);
  }
  std::string exec;
  const std::string prefix = GetEnvironmentVariable("WINEPREFIX");
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

std::string DesktopEntry(const Launcher& launcher) {
  return "[Desktop Entry]\nType=Application\nName=" + EscapeLineText(launcher.name) +
         "\nComment=" + EscapeLineText(launcher.comment) +
         "\nExec=" + LauncherCommand(launcher.program) +
         "\nPath=" + EscapeLineText(launcher.workingFolder) + "\nTerminal=false\n";
}

// Replaces the launcher at path whole: a reader never sees half of one.
bool WriteEntry(const std::string& path, const std::string& entry) {
  const std::string tmp = path + ".new";
  CFile f(OpenFile(tmp, kFileWrite, FileDisposition::kCreateAlways));
  bool ok = f.IsValid() && WriteFileAt(f.Get(), entry.data(), entry.size(), 0) == entry.size();
  f.Close();
  ok = ok && MarkFile(tmp, FileMark::kExecutable) && MoveFile(tmp, path);
  if (!ok) DeleteFile(tmp);
  return ok;
}

}  // namespace

// The name becomes a file name inside the launcher folders: nothing that
// names another folder, and no control characters.
bool sys::IsLauncherName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 200) return false;
  for (unsigned char c : name) {
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::string sys::LauncherFileName(const std::string& name) { return name + ".desktop"; }

bool sys::WriteLauncherFile(const std::string& path, const Launcher& launcher) {
  return WriteEntry(path, DesktopEntry(launcher));
}

void sys::WriteOtherLaunchers(const Launcher& launcher, std::vector<std::string>* pNotes) {
  const std::string menu = ApplicationsFolder();
  if (menu.empty()) {
    pNotes->push_back("menu launcher skipped: no applications folder");
  } else if (!WriteEntry(menu + "/" + LauncherFileName(launcher.name), DesktopEntry(launcher))) {
    pNotes->push_back("menu launcher not written: " + menu + "/" + LauncherFileName(launcher.name));
  }
}

}  // namespace platform
