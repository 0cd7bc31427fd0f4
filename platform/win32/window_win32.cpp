// The layer's windows on Windows: made, shown, stacked, moved and drawn.
#include "platform/win32/win32_prelude.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/display.h"
#include "platform/error.h"
#include "platform/win32/display_win32_internal.h"
#include "platform/win32/win32_util.h"

namespace platform {
namespace win32 {
namespace {

// HWND_TOPMOST and HWND_NOTOPMOST, which name the layer's HWND type here.
const ::HWND kTopmost = reinterpret_cast<::HWND>(static_cast<intptr_t>(-1));
const ::HWND kNotTopmost = reinterpret_cast<::HWND>(static_cast<intptr_t>(-2));

// The layered-window calls, looked up by name in User32 at each use, as the
// design has always done: they are missing on systems older than 2000.
using UpdateLayeredWindowFn = BOOL(WINAPI*)(::HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF,
                                            BLENDFUNCTION*, DWORD);
using SetLayeredWindowAttributesFn = BOOL(WINAPI*)(::HWND, COLORREF, BYTE, DWORD);

template <typename Fn>
class CUser32Call {
 public:
  explicit CUser32Call(const char* szName) : hUser32_(::LoadLibraryW(L"User32.DLL")) {
    if (hUser32_) {
      pFn_ = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(hUser32_, szName)));
    }
  }
  ~CUser32Call() {
    if (hUser32_) ::FreeLibrary(hUser32_);
  }
  Fn Get() const { return pFn_; }

 private:
  HMODULE hUser32_;
  Fn pFn_ = nullptr;
};

// A top-down 32-bit DIB holding the canvas's premultiplied pixels.
HBITMAP PictureOf(CCanvas& canvas) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = canvas.Width();
  info.bmiHeader.biHeight = -canvas.Height();
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* pBits = nullptr;
  HBITMAP hBitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pBits, nullptr, 0);
  if (!hBitmap) return nullptr;
  const size_t nRow = static_cast<size_t>(canvas.Width()) * 4;
  const auto* pSource = reinterpret_cast<const uint8_t*>(canvas.Pixels());
  auto* pDest = static_cast<uint8_t*>(pBits);
  for (int y = 0; y < canvas.Height(); ++y) {
    std::memcpy(pDest + nRow * y, pSource + static_cast<size_t>(canvas.Stride()) * y, nRow);
  }
  return hBitmap;
}

// Pushes the picture to a per-pixel-alpha window at its place on the screen.
void PushLayered(::HWND hReal, HBITMAP hPicture, int nWidth, int nHeight, bool bMoveToo) {
  CUser32Call<UpdateLayeredWindowFn> update("UpdateLayeredWindow");
  if (!update.Get()) return;
  HDC hScreen = ::GetDC(nullptr);
  HDC hMemory = ::CreateCompatibleDC(hScreen);
  HGDIOBJ hOld = ::SelectObject(hMemory, hPicture);
  RECT rect{};
  ::GetWindowRect(hReal, &rect);
  POINT dest{rect.left, rect.top};
  SIZE size{nWidth, nHeight};
  POINT source{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  update.Get()(hReal, hScreen, bMoveToo ? &dest : nullptr, &size, hMemory, &source, 0, &blend,
               ULW_ALPHA);
  ::SelectObject(hMemory, hOld);
  ::DeleteDC(hMemory);
  ::ReleaseDC(nullptr, hScreen);
}

// Windows keeps an owned window above its owner; Wine without a window
// manager stacks its X windows in the order they were shown or remade
// (a layered window gets a new one for its visual) unless told again, and
// the skin is shown and drawn after the dialog it owns.
// True when nothing shown lies above the window but what it owns and
// topmost windows: then the top of the ordinary windows is just above it.
bool OnTop(::HWND hReal) {
  for (::HWND h = ::GetWindow(hReal, GW_HWNDPREV); h; h = ::GetWindow(h, GW_HWNDPREV)) {
    if (!::IsWindowVisible(h) || ::GetWindow(h, GW_OWNER) == hReal) continue;
    if (!(::GetWindowLongPtrW(h, GWL_EXSTYLE) & WS_EX_TOPMOST)) return false;
  }
  return true;
}

void PlaceInStack(const CWinWindow& w, ::HWND hAfter) {
  UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  if (!OnOwnerThread(w)) flags |= SWP_ASYNCWINDOWPOS;
  ::SetWindowPos(w.hReal, hAfter, 0, 0, 0, 0, flags);
}

}  // namespace

void PaintPicture(::HWND hReal) {
  PAINTSTRUCT paint;
  HDC hDc = ::BeginPaint(hReal, &paint);
  {
    // Under the lock: another thread may replace the picture meanwhile.
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_windows.find(LayerHandleOf(hReal));
    if (it != g_windows.end() && it->second.hPicture) {
      HDC hMemory = ::CreateCompatibleDC(hDc);
      HGDIOBJ hOld = ::SelectObject(hMemory, it->second.hPicture);
      ::BitBlt(hDc, 0, 0, it->second.nPictureWidth, it->second.nPictureHeight, hMemory, 0, 0,
               SRCCOPY);
      ::SelectObject(hMemory, hOld);
      ::DeleteDC(hMemory);
    } else {
      // Nothing drawn yet: black, which a colour-keyed window shows as a hole.
      ::FillRect(hDc, &paint.rcPaint, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    }
  }
  ::EndPaint(hReal, &paint);
}

void RaiseOwned(HWND hOwner) {
  std::vector<CWinWindow> owned;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto owner = g_windows.find(hOwner);
    if (owner == g_windows.end()) return;
    // Below other programs' windows, raising what it owns would lift that
    // above them.
    if (!OnTop(owner->second.hReal)) return;
    for (const auto& [hWnd, w] : g_windows) {
      if (::GetWindow(w.hReal, GW_OWNER) == owner->second.hReal) owned.push_back(w);
    }
  }
  // Putting it where it already is changes nothing anywhere: through the
  // topmost band and back, it is stacked again at the top, just above its
  // owner.
  for (const CWinWindow& w : owned) {
    UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    if (!OnOwnerThread(w)) flags |= SWP_ASYNCWINDOWPOS;
    ::SetWindowPos(w.hReal, kTopmost, 0, 0, 0, 0, flags);
    ::SetWindowPos(w.hReal, kNotTopmost, 0, 0, 0, 0, flags);
  }
}

}  // namespace win32

using win32::AttachToThreadLoop;
using win32::CUser32Call;
using win32::CWinWindow;
using win32::g_lock;
using win32::g_windows;
using win32::kClassName;
using win32::kDestroyFromElsewhere;
using win32::kNotTopmost;
using win32::kTopmost;
using win32::Lookup;
using win32::OnOwnerThread;
using win32::PictureOf;
using win32::PlaceInStack;
using win32::PushLayered;
using win32::RaiseOwned;
using win32::SetLayeredWindowAttributesFn;

HWND CreateDisplayWindow(const WindowOptions& options, WindowProc proc, Outcome* pWhy) {
  if (!HasDisplay()) {
    if (pWhy != nullptr) *pWhy = Outcome::Failure("no display is open");
    return 0;
  }
  ::HWND hOwner = nullptr;
  CWinWindow owner;
  if (options.hOwner && Lookup(options.hOwner, &owner)) hOwner = owner.hReal;
  DWORD dwExStyle = options.bSkipTaskbar ? WS_EX_TOOLWINDOW : 0;
  if (options.kind != WindowKind::kOpaque) dwExStyle |= WS_EX_LAYERED;
  // An owned window stays above its owner and moves with it in the stack,
  // so one "inside" its owner is simply an owned window at the owner's place.
  const std::wstring title = reinterpret_cast<const wchar_t*>(options.title.c_str());
  ::HWND hReal = ::CreateWindowExW(
      dwExStyle, kClassName, title.c_str(), WS_POPUP, options.rect.left, options.rect.top,
      std::max(options.rect.Width(), 1), std::max(options.rect.Height(), 1), hOwner, nullptr,
      ::GetModuleHandleW(nullptr), nullptr);
  if (!hReal) {
    if (pWhy != nullptr)
      *pWhy = Outcome::System(static_cast<int>(::GetLastError()), "CreateWindowExW");
    return 0;
  }
  if (options.kind == WindowKind::kColourKey) {
    CUser32Call<SetLayeredWindowAttributesFn> setAttributes("SetLayeredWindowAttributes");
    if (setAttributes.Get()) setAttributes.Get()(hReal, RGB(0, 0, 0), 0, LWA_COLORKEY);
  }
  const HWND hWnd = CreateMessageWindow(std::move(proc));
  CWinWindow w;
  w.hReal = hReal;
  w.kind = options.kind;
  w.dwThread = ::GetCurrentThreadId();
  w.externalMessages = options.externalMessages;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    g_windows[hWnd] = w;
  }
  ::SetWindowLongPtrW(hReal, GWLP_USERDATA, static_cast<LONG_PTR>(hWnd));
  AttachToThreadLoop();
  return hWnd;
}

void DestroyDisplayWindow(HWND hWnd) {
  CWinWindow w;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_windows.find(hWnd);
    if (it == g_windows.end()) return;
    w = it->second;
    g_windows.erase(it);
  }
  DestroyMessageWindow(hWnd);
  // From now on the window's messages reach no layer window.
  ::SetWindowLongPtrW(w.hReal, GWLP_USERDATA, 0);
  if (OnOwnerThread(w)) {
    ::DestroyWindow(w.hReal);
  } else {
    ::PostMessageW(w.hReal, kDestroyFromElsewhere, 0, 0);
  }
  if (w.hPicture) ::DeleteObject(w.hPicture);
  if (w.hBigIcon) ::DestroyIcon(w.hBigIcon);
  if (w.hSmallIcon) ::DestroyIcon(w.hSmallIcon);
}

void SetWindowContent(HWND hWnd, CCanvas& canvas) {
  CWinWindow w;
  if (!Lookup(hWnd, &w)) return;
  HBITMAP hPicture = PictureOf(canvas);
  // Without a bitmap the window keeps what it shows.
  if (!hPicture) return;
  if (w.kind == WindowKind::kAlpha) {
    // The layered bit may have been taken away from outside.
    const LONG_PTR exStyle = ::GetWindowLongPtrW(w.hReal, GWL_EXSTYLE);
    if (!(exStyle & WS_EX_LAYERED))
      ::SetWindowLongPtrW(w.hReal, GWL_EXSTYLE, exStyle | WS_EX_LAYERED);
    PushLayered(w.hReal, hPicture, canvas.Width(), canvas.Height(), OnOwnerThread(w));
    RaiseOwned(hWnd);
  }
  HBITMAP hUnused = hPicture;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_windows.find(hWnd);
    if (it != g_windows.end()) {
      hUnused = it->second.hPicture;
      it->second.hPicture = hPicture;
      it->second.nPictureWidth = canvas.Width();
      it->second.nPictureHeight = canvas.Height();
    }
  }
  if (hUnused) ::DeleteObject(hUnused);
  if (w.kind != WindowKind::kAlpha) ::InvalidateRect(w.hReal, nullptr, FALSE);
}

void ShowWindow(HWND hWnd, ShowCommand command) {
  CWinWindow w;
  if (!Lookup(hWnd, &w)) return;
  int nShow = SW_HIDE;
  if (command == ShowCommand::kShow) nShow = ::IsIconic(w.hReal) ? SW_RESTORE : SW_SHOW;
  if (command == ShowCommand::kMinimise) nShow = SW_MINIMIZE;
  if (OnOwnerThread(w)) {
    ::ShowWindow(w.hReal, nShow);
  } else {
    ::ShowWindowAsync(w.hReal, nShow);
  }
  if (command == ShowCommand::kShow) RaiseOwned(hWnd);
}

void SetWindowAbove(HWND hWnd, bool bAbove) {
  CWinWindow w;
  if (!Lookup(hWnd, &w)) return;
  PlaceInStack(w, bAbove ? kTopmost : kNotTopmost);
  RaiseOwned(hWnd);
}

void RaiseWindow(HWND hWnd) {
  CWinWindow w;
  if (!Lookup(hWnd, &w)) return;
  PlaceInStack(w, nullptr);  // the top of the stack
  RaiseOwned(hWnd);
}

void FocusWindow(HWND hWnd) {
  CWinWindow w;
  if (!Lookup(hWnd, &w)) return;
  ::SetForegroundWindow(w.hReal);
  if (OnOwnerThread(w)) ::SetFocus(w.hReal);
}

void MoveWindow(HWND hWnd, const Rect& rect) {
  CWinWindow w;
  if (!Lookup(hWnd, &w)) return;
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  if (!OnOwnerThread(w)) flags |= SWP_ASYNCWINDOWPOS;
  ::SetWindowPos(w.hReal, nullptr, rect.left, rect.top, std::max(rect.Width(), 0),
                 std::max(rect.Height(), 0), flags);
}

bool GetWindowRect(HWND hWnd, Rect* pRect) {
  CWinWindow w;
  RECT rect{};
  if (!Lookup(hWnd, &w) || !::GetWindowRect(w.hReal, &rect)) return false;
  *pRect = Rect{rect.left, rect.top, rect.right, rect.bottom};
  return true;
}

}  // namespace platform
