// The message layer: windows are handles owned by one thread's message queue.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

using HWND = uintptr_t;  // 0 is no window
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// Posted to a window, ends its owner's message loop with wParam as the code.
inline constexpr uint32_t WM_QUIT = 0x0012;
inline constexpr uint32_t WM_USER = 0x0400;

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
int RunMessageLoop();

// Handles the calling thread's waiting messages, waiting up to the time-out
// for the first. Returns false when a quit was seen.
bool PumpMessages(uint32_t dwMilliseconds);

}  // namespace platform
