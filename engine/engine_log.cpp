#include "engine/engine_log.h"

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

int32_t AppendRunLog(std::u16string_view text) {
  const std::string section = std::to_string(platform::GetTickCount());
  platform::WritePrivateProfileString(section, "log", platform::Utf16ToUtf8(text), kRunLogPath);
  return 1;
}
