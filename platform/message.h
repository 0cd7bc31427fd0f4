// The message layer: windows are handles owned by one thread's message queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

using HWND = uintptr_t;  // 0 is no window
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// Posted to a window, ends its owner's message loop with wParam as the code.
inline constexpr uint32_t WM_QUIT = 0x0012;
inline constexpr uint32_t WM_USER = 0x0400;

// What the layer and the display deliver to a window's procedure. Points
// travel in lParam as x in the low and y in the high 16 bits, signed.
inline constexpr uint32_t WM_MOVE = 0x0003;     // lParam: client origin on the screen
inline constexpr uint32_t WM_SIZE = 0x0005;     // lParam: width, height
inline constexpr uint32_t WM_PAINT = 0x000F;    // after InvalidateWindow
inline constexpr uint32_t WM_CLOSE = 0x0010;    // the window manager asks to close
inline constexpr uint32_t WM_KEYDOWN = 0x0100;  // wParam: VK_RETURN, VK_ESCAPE or another key
inline constexpr uint32_t WM_TIMER = 0x0113;    // wParam: the timer's identifier
inline constexpr uint32_t WM_MOUSEMOVE = 0x0200;    // lParam: client pixels
inline constexpr uint32_t WM_LBUTTONDOWN = 0x0201;  // lParam: client pixels
inline constexpr uint32_t WM_LBUTTONUP = 0x0202;    // lParam: client pixels
inline constexpr WPARAM VK_RETURN = 13;
inline constexpr WPARAM VK_ESCAPE = 27;

inline LPARAM MakePointParam(int x, int y) {
  return static_cast<LPARAM>((static_cast<uint32_t>(x) & 0xFFFF) |
                             ((static_cast<uint32_t>(y) & 0xFFFF) << 16));
}
inline int PointX(LPARAM lParam) { return static_cast<int16_t>(lParam & 0xFFFF); }
inline int PointY(LPARAM lParam) { return static_cast<int16_t>((lParam >> 16) & 0xFFFF); }

using WindowProc = std::function<LRESULT(HWND, uint32_t, WPARAM, LPARAM)>;

// Makes a window owned by the calling thread; its procedure runs only on that
// thread. Never returns 0.
HWND CreateMessageWindow(WindowProc proc);

// Makes a window that belongs to no thread: a message sent or posted to it
// runs the procedure at once on the sending thread (the counterpart of a
// window for a caller that has no message loop). Never returns 0.
HWND CreateCallbackWindow(WindowProc proc);

// Removes the window; later messages to it return 0 at once. Any thread.
void DestroyMessageWindow(HWND hWnd);

bool IsWindow(HWND hWnd);

// Runs the window's procedure and returns its result. From the owner thread
// the procedure is called directly; from any other thread the message is
// queued and the caller blocks until the owner's loop has handled it, while
// still handling messages sent to its own windows (so two threads sending to
// each other do not deadlock). Returns 0 at once for a destroyed window, or
// when the owner thread ends before handling the message.
LRESULT SendMessage(HWND hWnd, uint32_t uMsg, WPARAM wParam, LPARAM lParam);

// Queues the message for the owner thread and returns at once; false when
// the window does not exist.
bool PostMessage(HWND hWnd, uint32_t uMsg, WPARAM wParam, LPARAM lParam);

// Ends the calling thread's message loop with the code.
void PostQuitMessage(int nExitCode);

// Handles the calling thread's messages until a quit; returns its code.
// Sent messages come first, then posted ones, then due timers, then paints.
int RunMessageLoop();

// Handles the calling thread's messages (and its windows' timers, paints and
// display events) until bDone() is true, checked after each one handled. A
// quit ends the wait early: it is posted again for the loop outside, and the
// call returns false.
bool RunModalLoop(const std::function<bool()>& bDone);

// Delivers WM_TIMER with the identifier to the window on its owner thread
// every dwMilliseconds (at least 1), from now on; setting an identifier again
// restarts it. Any thread; false when the window does not exist or belongs
// to no thread.
bool SetTimer(HWND hWnd, uintptr_t nId, uint32_t dwMilliseconds);
// Stops the timer; false when there was none. Any thread.
bool KillTimer(HWND hWnd, uintptr_t nId);

// Asks for one WM_PAINT on the owner thread once nothing else waits there;
// invalidations before that paint is delivered add nothing. Any thread.
void InvalidateWindow(HWND hWnd);

// What the platform's wait sleeps on: a descriptor here, a handle on
// Windows. Opaque to everything but the platform's own code.
struct WaitHandle {
  intptr_t h = -1;
};

// Something besides the queue that the calling thread's loop waits on: the
// loop calls Pump() before every sleep and whenever WaitSource() is
// signalled; Pump handles what has arrived and returns true when it handled
// anything.
class ILoopSource {
 public:
  virtual ~ILoopSource() = default;
  virtual WaitHandle WaitSource() = 0;
  virtual bool Pump() = 0;
};

// Adds the source to the calling thread's loop (once; adding it again does
// nothing) or takes it away. Owner thread only.
void AddLoopSource(const std::shared_ptr<ILoopSource>& pSource);
void RemoveLoopSource(const ILoopSource* pSource);

// Handles the calling thread's waiting messages, waiting up to the time-out
// for the first. Returns false when a quit was seen.
bool PumpMessages(uint32_t dwMilliseconds);

}  // namespace platform
