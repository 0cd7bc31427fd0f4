#include "engine/engine_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/debug_channel.h"
#include "platform/profile.h"
#include "platform/text.h"

void DebugLog(const char* szFormat, ...) {
  char szMessage[1024];
  va_list args;
  va_start(args, szFormat);
  std::vsnprintf(szMessage, sizeof szMessage, szFormat, args);
  va_end(args);

  const platform::LocalTime t = platform::GetLocalTime();
  char szLine[2048];
  int n = std::snprintf(szLine, sizeof szLine, "%02d-%02d %02d:%02d:%02d\t\t%s", t.nMonth, t.nDay,
                        t.nHour, t.nMinute, t.nSecond, szMessage);
  if (n < 0) return;
  platform::OutputDebugText(
      std::string_view(szLine, std::min(static_cast<size_t>(n), sizeof szLine - 1)));
}

namespace {

std::atomic<std::string (*)()> g_pfnChooseRunLog{nullptr};

// The section of the last note this process wrote; -1 before the first.
std::atomic<int64_t> g_lastSection{-1};

uint32_t NextSection() {
  const uint32_t dwTick = platform::GetTickCount();
  int64_t llLast = g_lastSection.load();
  uint32_t dwSection;
  do {
    dwSection = RunLogSection(dwTick, llLast);
  } while (!g_lastSection.compare_exchange_weak(llLast, dwSection));
  return dwSection;
}

}  // namespace

void SetRunLogChooser(std::string (*pfnChoose)()) { g_pfnChooseRunLog = pfnChoose; }

uint32_t RunLogSection(uint32_t dwTick, int64_t llLast) {
  if (llLast < 0) return dwTick;
  const auto dwLast = static_cast<uint32_t>(llLast);
  // Ahead of the last section (the tick count wraps after 49 days): the
  // tick; otherwise the number after the last.
  return static_cast<int32_t>(dwTick - dwLast) > 0 ? dwTick : dwLast + 1;
}

int32_t AppendRunLog(std::u16string_view text) {
  const std::string section = std::to_string(NextSection());
  // A line break inside a value would end it and start a line no INI
  // reader understands: it is stored as a blank. Breaks at the very end
  // (many of the design's texts have one) only leave an empty line.
  std::string value = platform::Utf16ToUtf8(text);
  const size_t end = value.find_last_not_of("\r\n");
  for (size_t i = 0; end != std::string::npos && i < end; ++i) {
    if (value[i] == '\r' || value[i] == '\n') value[i] = ' ';
  }
  std::string (*pfnChoose)() = g_pfnChooseRunLog.load();
  std::string path = pfnChoose ? pfnChoose() : std::string();
  if (path.empty()) path = kRunLogPath;
  platform::WritePrivateProfileString(section, "log", value, path);
  return 1;
}
