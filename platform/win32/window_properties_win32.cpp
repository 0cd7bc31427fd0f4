// What the system shows of a window beside its picture: its icons, and its
// handle for other programs.
#include "platform/win32/win32_prelude.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "platform/display.h"
#include "platform/win32/display_win32_internal.h"

namespace platform {
namespace {

// An icon from a square canvas: the system wants straight alpha.
HICON IconOf(CCanvas& canvas) {
  const int n = canvas.Width();
  BITMAPV5HEADER header{};
  header.bV5Size = sizeof header;
  header.bV5Width = n;
  header.bV5Height = -n;
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void* pBits = nullptr;
  HDC hScreen = ::GetDC(nullptr);
  HBITMAP hColour = ::CreateDIBSection(hScreen, reinterpret_cast<BITMAPINFO*>(&header),
                                       DIB_RGB_COLORS, &pBits, nullptr, 0);
  ::ReleaseDC(nullptr, hScreen);
  if (!hColour) return nullptr;
  auto* pDest = static_cast<uint32_t*>(pBits);
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      const uint32_t p = canvas.Pixel(x, y);
      const uint32_t a = p >> 24;
      auto straight = [a](uint32_t c) {
        return a == 0 ? 0u : std::min(255u, (c * 255 + a / 2) / a);
      };
      pDest[static_cast<size_t>(y) * n + x] = (a << 24) | (straight((p >> 16) & 0xFF) << 16) |
                                              (straight((p >> 8) & 0xFF) << 8) | straight(p & 0xFF);
    }
  }
  HBITMAP hMask = ::CreateBitmap(n, n, 1, 1, nullptr);
  ICONINFO info{TRUE, 0, 0, hMask, hColour};
  HICON hIcon = ::CreateIconIndirect(&info);
  ::DeleteObject(hMask);
  ::DeleteObject(hColour);
  return hIcon;
}

// The canvas whose size is nearest to nSize.
CCanvas* Nearest(const std::vector<CCanvas*>& sizes, int nSize) {
  CCanvas* pBest = nullptr;
  for (CCanvas* p : sizes) {
    if (!pBest || std::abs(p->Width() - nSize) < std::abs(pBest->Width() - nSize)) pBest = p;
  }
  return pBest;
}

}  // namespace

using win32::CWinWindow;
using win32::g_lock;
using win32::g_windows;
using win32::Lookup;

void SetWindowIcon(HWND hWnd, const std::vector<CCanvas*>& sizes) {
  CWinWindow w;
  if (!Lookup(hWnd, &w) || sizes.empty()) return;
  HICON hBig = IconOf(*Nearest(sizes, ::GetSystemMetrics(SM_CXICON)));
  HICON hSmall = IconOf(*Nearest(sizes, ::GetSystemMetrics(SM_CXSMICON)));
  ::SendMessageW(w.hReal, WM_SETICON, ICON_BIG, reinterpret_cast<::LPARAM>(hBig));
  ::SendMessageW(w.hReal, WM_SETICON, ICON_SMALL, reinterpret_cast<::LPARAM>(hSmall));
  HICON hOldBig = nullptr, hOldSmall = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_windows.find(hWnd);
    if (it == g_windows.end()) {
      hOldBig = hBig;
      hOldSmall = hSmall;
    } else {
      hOldBig = it->second.hBigIcon;
      hOldSmall = it->second.hSmallIcon;
      it->second.hBigIcon = hBig;
      it->second.hSmallIcon = hSmall;
    }
  }
  if (hOldBig) ::DestroyIcon(hOldBig);
  if (hOldSmall) ::DestroyIcon(hOldSmall);
}

uint32_t PublicWindowHandle(HWND hWnd) {
  CWinWindow w;
  if (Lookup(hWnd, &w)) return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(w.hReal));
  return static_cast<uint32_t>(hWnd);
}

}  // namespace platform
