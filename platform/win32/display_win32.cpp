// The display on Windows: the system's own windows. The skin is a
// per-pixel-alpha layered window fed by UpdateLayeredWindow, the bars' dialog
// an owned window whose black is a colour key, and both route their input to
// the message layer's windows. The system's window messages are handled by
// the owner thread's loop, which the layer's wait already wakes for them.
#include "platform/win32/win32_prelude.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/display.h"
#include "platform/error.h"
#include "platform/message_box.h"
#include "platform/prompt_window.h"
#include "platform/thread.h"
#include "platform/win32/win32_util.h"

namespace platform {
namespace {

constexpr wchar_t kClassName[] = L"QarnautoWindow";
// Posted to a window whose owner thread must do what another thread asked.
constexpr UINT kDestroyFromElsewhere = WM_APP + 1;
// Keeps the layer's messages flowing while the system runs a loop of its
// own on the thread (a window move, a message box).
constexpr UINT_PTR kLayerPumpTimer = 0x5141;
// HWND_TOPMOST and HWND_NOTOPMOST, which name the layer's HWND type here.
const ::HWND kTopmost = reinterpret_cast<::HWND>(static_cast<intptr_t>(-1));
const ::HWND kNotTopmost = reinterpret_cast<::HWND>(static_cast<intptr_t>(-2));

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

std::mutex g_lock;  // guards g_windows
std::unordered_map<HWND, CWinWindow> g_windows;
bool g_bOpen = false;                  // set once, under g_lock
thread_local int t_nForeignLoops = 0;  // system loops running on this thread

bool Lookup(HWND hWnd, CWinWindow* pOut) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = g_windows.find(hWnd);
  if (it == g_windows.end()) return false;
  *pOut = it->second;
  return true;
}

bool OnOwnerThread(const CWinWindow& w) { return w.dwThread == ::GetCurrentThreadId(); }

HWND LayerHandleOf(::HWND hReal) {
  return static_cast<HWND>(::GetWindowLongPtrW(hReal, GWLP_USERDATA));
}

// The layer's waiting messages, handled from inside a loop of the system's.
// The system's own messages are that loop's to dispatch, not ours.
void PumpLayer() {
  ++t_nForeignLoops;
  const bool bGoOn = PumpMessages(0);
  --t_nForeignLoops;
  if (!bGoOn) PostQuitMessage(0);
}

void CALLBACK LayerPumpTimerProc(::HWND, UINT, UINT_PTR, DWORD) { PumpLayer(); }

// The thread's system messages, as a source of the layer's loop. The wait
// already wakes for them (MsgWaitForMultipleObjects), so the handle it
// offers is one that is never signalled.
class CSystemMessages : public ILoopSource {
 public:
  CSystemMessages() : hNever_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~CSystemMessages() override { ::CloseHandle(hNever_); }
  WaitHandle WaitSource() override { return WaitHandle{FromHandle(hNever_)}; }
  bool Pump() override {
    if (t_nForeignLoops > 0) return false;
    bool bAny = false;
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      bAny = true;
      if (msg.message == 0x0012 /* WM_QUIT */) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    return bAny;
  }

 private:
  HANDLE hNever_;
};

void AttachToThreadLoop() {
  // Per-thread state with a destructor goes through AtThreadExit (thread.h).
  using Source = std::shared_ptr<CSystemMessages>;
  thread_local Source* t_pSource = nullptr;
  if (!t_pSource) {
    t_pSource = new Source(std::make_shared<CSystemMessages>());
    AtThreadExit([](void* pSource) { delete static_cast<Source*>(pSource); }, t_pSource);
  }
  AddLoopSource(*t_pSource);
}

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

::LRESULT CALLBACK SystemWindowProc(::HWND hReal, UINT uMsg, ::WPARAM wParam, ::LPARAM lParam) {
  const HWND hWnd = LayerHandleOf(hReal);
  auto forward = [&](uint32_t uLayerMsg) {
    return static_cast<::LRESULT>(SendMessage(hWnd, uLayerMsg, wParam, lParam));
  };
  switch (uMsg) {
    case 0x0003:  // WM_MOVE
      return hWnd ? (forward(WM_MOVE), 0) : 0;
    case 0x0005:  // WM_SIZE
      return hWnd ? (forward(WM_SIZE), 0) : 0;
    case 0x0010:  // WM_CLOSE: the layer decides; the window stays until it is destroyed
      if (hWnd) forward(WM_CLOSE);
      return 0;
    case 0x000F:  // WM_PAINT
      PaintPicture(hReal);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case 0x0100:  // WM_KEYDOWN
    case 0x0200:  // WM_MOUSEMOVE
    case 0x0201:  // WM_LBUTTONDOWN
    case 0x0202:  // WM_LBUTTONUP
      if (hWnd) forward(uMsg);
      return 0;
    case WM_WINDOWPOSCHANGED: {
      const auto* pPos = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (hWnd && (!(pPos->flags & SWP_NOZORDER) || (pPos->flags & SWP_SHOWWINDOW)))
        RaiseOwned(hWnd);
      break;  // the default handling reports the move and the size
    }
    case WM_ENTERSIZEMOVE:
      ::SetTimer(hReal, kLayerPumpTimer, 10, nullptr);
      break;
    case WM_EXITSIZEMOVE:
      ::KillTimer(hReal, kLayerPumpTimer);
      break;
    case 0x0113:  // WM_TIMER
      if (wParam == kLayerPumpTimer) {
        PumpLayer();
        return 0;
      }
      break;
    case WM_QUERYDRAGICON: {
      CWinWindow w;
      return Lookup(hWnd, &w) ? reinterpret_cast<::LRESULT>(w.hBigIcon) : 0;
    }
    case kDestroyFromElsewhere:
      ::DestroyWindow(hReal);
      return 0;
    default:
      break;
  }
  if (hWnd && uMsg >= 0x0400) {
    CWinWindow w;
    if (Lookup(hWnd, &w) && std::find(w.externalMessages.begin(), w.externalMessages.end(), uMsg) !=
                                w.externalMessages.end()) {
      return forward(uMsg);
    }
  }
  return ::DefWindowProcW(hReal, uMsg, wParam, lParam);
}

bool RegisterWindowClass() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = SystemWindowProc;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.lpszClassName = kClassName;
  return ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// The plain prompt is the system's message box, without an owner. Its loop
// is the system's, so the layer's messages are handled by a thread timer
// while it is shown, as sent messages are while any system loop runs.
int SystemPrompt(const std::u16string& text, const std::u16string& caption, bool bOkOnly) {
  const UINT_PTR nTimer = ::SetTimer(nullptr, 0, 10, LayerPumpTimerProc);
  const int nAnswer = ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()),
                                    reinterpret_cast<const wchar_t*>(caption.c_str()),
                                    (bOkOnly ? MB_OK : MB_OKCANCEL) | MB_SETFOREGROUND);
  if (nTimer) ::KillTimer(nullptr, nTimer);
  if (nAnswer == 0) return -1;
  return nAnswer == 1 /* IDOK */ ? IDOK : IDCANCEL;
}

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

bool OpenDisplay() {
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_bOpen) return true;
  if (!RegisterWindowClass()) return false;
  // Windows always has a desktop; Wine without an X server has none, and
  // refuses every top-level window.
  ::HWND hProbe = ::CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP, 0, 0, 1, 1,
                                    nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (!hProbe) return false;
  ::DestroyWindow(hProbe);
  g_bOpen = true;
  SetPromptWindowFunction(SystemPrompt);
  return true;
}

bool HasDisplay() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_bOpen;
}

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

HWND CreateDisplayWindow(const WindowOptions& options, WindowProc proc) {
  if (!HasDisplay()) {
    SetLastErrorText("no display is open");
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
    SetLastError(static_cast<int>(::GetLastError()), "CreateWindowExW");
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

namespace {

void PlaceInStack(const CWinWindow& w, ::HWND hAfter) {
  UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  if (!OnOwnerThread(w)) flags |= SWP_ASYNCWINDOWPOS;
  ::SetWindowPos(w.hReal, hAfter, 0, 0, 0, 0, flags);
}

}  // namespace

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

void BeginWindowMove(HWND hWnd) {
  CWinWindow w;
  if (!Lookup(hWnd, &w) || !OnOwnerThread(w)) return;
  // The system command "move by the caption": the system moves the window
  // while the button is held.
  ::ReleaseCapture();
  ::SendMessageW(w.hReal, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
}

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
