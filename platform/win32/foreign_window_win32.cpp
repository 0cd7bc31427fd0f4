#include "platform/win32/win32_prelude.h"

#include "platform/foreign_window.h"

namespace platform {

bool SendToForeignWindow(HWND hWnd, uint32_t uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  const auto hSystem = reinterpret_cast<::HWND>(hWnd);
  if (hWnd == 0 || !::IsWindow(hSystem)) return false;
  *pResult = ::SendMessageW(hSystem, uMsg, wParam, lParam);
  return true;
}

}  // namespace platform
