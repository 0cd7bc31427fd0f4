// The display on Windows: the system's own windows. The skin is a
// per-pixel-alpha layered window fed by UpdateLayeredWindow, the bars' dialog
// an owned window whose black is a colour key, and both route their input to
// the message layer's windows. The system's window messages are handled by
// the owner thread's loop, which the layer's wait already wakes for them.
#include "platform/win32/win32_prelude.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "platform/display.h"
#include "platform/message_box.h"
#include "platform/prompt_window.h"
#include "platform/thread.h"
#include "platform/win32/display_win32_internal.h"
#include "platform/win32/win32_util.h"

namespace platform {
namespace win32 {

std::mutex g_lock;
std::unordered_map<HWND, CWinWindow> g_windows;

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

namespace {

// Keeps the layer's messages flowing while the system runs a loop of its
// own on the thread (a window move, a message box).
constexpr UINT_PTR kLayerPumpTimer = 0x5141;

bool g_bOpen = false;                  // set once, under g_lock
thread_local int t_nForeignLoops = 0;  // system loops running on this thread

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

}  // namespace

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

namespace {

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

}  // namespace
}  // namespace win32

using win32::g_bOpen;
using win32::g_lock;
using win32::kClassName;
using win32::RegisterWindowClass;
using win32::SystemPrompt;

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

}  // namespace platform
