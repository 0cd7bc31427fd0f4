// What the Windows display's files share: the layer's windows and the
// system's windows behind them.
#pragma once

#include "platform/win32/win32_prelude.h"

#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/display.h"

namespace platform {
namespace win32 {

inline constexpr wchar_t kClassName[] = L"QarnautoWindow";
// Posted to a window whose owner thread must do what another thread asked.
inline constexpr UINT kDestroyFromElsewhere = WM_APP + 1;

struct CWinWindow {
  ::HWND hReal = nullptr;
  WindowKind kind = WindowKind::kOpaque;
  DWORD dwThread = 0;
  std::vector<uint32_t> externalMessages;
  // The last picture, as a top-down 32-bit DIB of premultiplied pixels.
  HBITMAP hPicture = nullptr;
  int nPictureWidth = 0, nPictureHeight = 0;
  HICON hBigIcon = nullptr, hSmallIcon = nullptr;
};

extern std::mutex g_lock;  // guards g_windows
extern std::unordered_map<HWND, CWinWindow> g_windows;

// A copy of the window's record; false when the layer has no such window.
bool Lookup(HWND hWnd, CWinWindow* pOut);
bool OnOwnerThread(const CWinWindow& w);
// The layer's window behind a system window (0 once it is being destroyed).
HWND LayerHandleOf(::HWND hReal);

// The thread's system messages join its layer loop (once per thread).
void AttachToThreadLoop();
// Paints a window that is not per-pixel alpha from its last picture.
void PaintPicture(::HWND hReal);
// Keeps what the window owns stacked just above it.
void RaiseOwned(HWND hOwner);

}  // namespace win32
}  // namespace platform
