// The display on Windows, for a build that updates in its console: the
// screen's geometry and the pointer are the system's, but no skinned window
// is made, so the updater takes its terminal mode.
#include "platform/win32/win32_prelude.h"

#include "platform/display.h"
#include "platform/error.h"

namespace platform {

bool OpenDisplay() { return false; }
bool HasDisplay() { return false; }

Rect GetWorkArea() {
  RECT area{};
  if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return Rect{};
  return Rect{area.left, area.top, area.right, area.bottom};
}

bool GetCursorPos(int* pX, int* pY) {
  POINT at{};
  if (!::GetCursorPos(&at)) return false;
  *pX = at.x;
  *pY = at.y;
  return true;
}

HWND CreateDisplayWindow(const WindowOptions&, WindowProc) {
  SetLastErrorText("this build of the updater shows no windows");
  return 0;
}

// No display window exists, so there is nothing for these to act on.
void DestroyDisplayWindow(HWND) {}
void SetWindowContent(HWND, CCanvas&) {}
void ShowWindow(HWND, ShowCommand) {}
void SetWindowAbove(HWND, bool) {}
void RaiseWindow(HWND) {}
void FocusWindow(HWND) {}
void MoveWindow(HWND, const Rect&) {}
bool GetWindowRect(HWND, Rect*) { return false; }
void BeginWindowMove(HWND) {}
void SetWindowIcon(HWND, const std::vector<CCanvas*>&) {}

uint32_t PublicWindowHandle(HWND hWnd) { return static_cast<uint32_t>(hWnd); }

}  // namespace platform
