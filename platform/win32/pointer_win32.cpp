// The pointer on Windows: where it is, and the system's own window move.
#include "platform/win32/win32_prelude.h"

#include "platform/display.h"
#include "platform/win32/display_win32_internal.h"

namespace platform {

using win32::CWinWindow;
using win32::Lookup;
using win32::OnOwnerThread;

bool GetCursorPos(int* pX, int* pY) {
  POINT at{};
  if (!::GetCursorPos(&at)) return false;
  *pX = at.x;
  *pY = at.y;
  return true;
}

void BeginWindowMove(HWND hWnd) {
  CWinWindow w;
  if (!Lookup(hWnd, &w) || !OnOwnerThread(w)) return;
  // The system command "move by the caption": the system moves the window
  // while the button is held.
  ::ReleaseCapture();
  ::SendMessageW(w.hReal, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
}

}  // namespace platform
