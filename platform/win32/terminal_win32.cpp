#include "platform/win32/win32_prelude.h"

#include <cstdio>

#include "platform/terminal.h"

namespace platform {

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int StandardErrorColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void DetachStandardOutput() {
  std::fflush(stdout);
  std::freopen("NUL", "w", stdout);
}

}  // namespace platform
