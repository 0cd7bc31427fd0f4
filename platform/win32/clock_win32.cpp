#include "platform/win32/win32_prelude.h"

#include "platform/clock.h"

namespace platform {

uint32_t GetTickCount() { return static_cast<uint32_t>(::GetTickCount64()); }

LocalTime GetLocalTime() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

void Sleep(uint32_t dwMilliseconds) { ::Sleep(dwMilliseconds); }

}  // namespace platform
