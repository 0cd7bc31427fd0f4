#include "tools/wine_support.h"

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"
#include "tools/test_support.h"

namespace tools {

bool WineAndClientAvailable(const std::string& client) {
  return !client.empty() && platform::FileExists(client) &&
         !platform::FindProgramOnPath("wine").empty();
}

void UsePrivateWinePrefix() {
  const std::string prefix = TestFolder() + "/wineprefix";
  platform::SetEnvironmentVariable("WINEPREFIX", prefix);
  platform::SetEnvironmentVariable("WINEDEBUG", "-all");
  // A 32-bit program that makes a new prefix races Wine's 64-bit boot of
  // it on a busy machine ("could not load kernel32.dll"): the boot comes
  // first, alone.
  const std::string wineboot = platform::FindProgramOnPath("wineboot");
  if (wineboot.empty() || platform::FileExists(prefix + "/system.reg")) return;
  const platform::ProcessId pid = platform::StartProcess(wineboot, {wineboot, "-i"}, "");
  if (pid != platform::kInvalidProcess) platform::WaitProcess(pid);
}

bool MachineRuns32Bit() {
  static const bool bRuns = [] {
    const std::string probe = std::string(QARNAUTO_SOURCE_DIR) + "/scripts/runs_32bit.sh";
    const platform::ProcessId pid = platform::StartProcess(probe, {probe}, "");
    return pid != platform::kInvalidProcess && platform::WaitProcess(pid) == 0;
  }();
  return bRuns;
}

std::string WindowsPathOf(const std::string& path) {
  std::string out = "Z:" + path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::vector<std::string> SplitDesktopExec(const std::string& value) {
  std::string text;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char next = value[++i];
      text += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
      continue;
    }
    text += value[i];
  }
  std::vector<std::string> args;
  std::string current;
  bool bInQuotes = false, bHaveArg = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (bInQuotes) {
      if (c == '\\' && i + 1 < text.size()) {
        current += text[++i];
      } else if (c == '"') {
        bInQuotes = false;
      } else {
        current += c;
      }
    } else if (c == '"') {
      bInQuotes = bHaveArg = true;
    } else if (c == ' ') {
      if (bHaveArg) args.push_back(current);
      current.clear();
      bHaveArg = false;
    } else if (c == '%' && i + 1 < text.size() && text[i + 1] == '%') {
      current += '%';
      ++i;
      bHaveArg = true;
    } else {
      current += c;
      bHaveArg = true;
    }
  }
  if (bHaveArg) args.push_back(current);
  return args;
}

}  // namespace tools
