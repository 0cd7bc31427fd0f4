// Top-level windows on the display: a per-pixel-alpha window that shows a
// composed picture and takes its shape from the picture's alpha, a
// colour-keyed window whose black pixels are holes, and plain opaque
// windows. A display window is also a message-layer window: it belongs to
// the thread that created it, and its events arrive there as messages to its
// handle (WM_LBUTTONDOWN and WM_LBUTTONUP and WM_MOUSEMOVE in client pixels,
// WM_KEYDOWN, WM_MOVE, WM_SIZE, WM_CLOSE), through that thread's loop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/error.h"
#include "platform/message.h"

namespace platform {

// Opens the process's connection to the display that DISPLAY names. False
// when DISPLAY is unset or empty or the display cannot be reached; true when
// it is open (also on later calls). Once open, display errors are logged to
// the debug channel and never end the process; losing the connection ends
// the process with code 0. Any thread.
bool OpenDisplay();
bool HasDisplay();

// The work area of the primary monitor (what the window manager leaves free
// of panels there), else that monitor, else the whole screen. Empty without
// a display.
Rect GetWorkArea();

// The pointer's position on the screen; false without a display.
bool GetCursorPos(int* pX, int* pY);

enum class WindowKind {
  kAlpha,      // per-pixel alpha; pixels with alpha 0 are not there for input
  kColourKey,  // opaque; pure black pixels are holes, for the eye and the mouse
  kOpaque,     // an ordinary rectangular window
};

struct WindowOptions {
  WindowKind kind = WindowKind::kOpaque;
  Rect rect;  // position and size on the screen; the position is honoured
  std::u16string title;
  HWND hOwner = 0;            // kept above its owner by the window manager
  bool bSkipTaskbar = false;  // no taskbar or pager entry
  // Drawn inside its owner's window rather than as a window of its own: it
  // moves with the owner and stays above it whatever a window manager does
  // with top-level windows, which never see it. It lies at the owner's
  // top-left corner: a move gives it only its size; it is reported in
  // screen coordinates.
  bool bInsideOwner = false;
  // Messages another program may deliver to this window by a client message
  // of type kClientMessageType (data: message, wParam, lParam as longs).
  // Nothing else from outside ever reaches the window's procedure.
  std::vector<uint32_t> externalMessages;
};

// The client message type through which other programs reach a window.
inline constexpr const char* kClientMessageType = "QARNAUTO_WINDOW_MESSAGE";

// Makes a hidden window owned by the calling thread, undecorated; the
// calling thread's message loop then also waits on the display. 0 without a
// display or when the display refuses the window, with the reason in *pWhy
// when given.
HWND CreateDisplayWindow(const WindowOptions& options, WindowProc proc, Outcome* pWhy = nullptr);
// Destroys the window and its message-layer handle. Any thread.
void DestroyDisplayWindow(HWND hWnd);

// Shows the canvas as the window's picture, from its top-left corner, and
// recomputes the shape of kAlpha and kColourKey windows from it. The picture
// stays until the next call; the display repaints it by itself. Any thread.
void SetWindowContent(HWND hWnd, CCanvas& canvas);

enum class ShowCommand { kHide, kShow, kMinimise };
void ShowWindow(HWND hWnd, ShowCommand command);
// Raises the window; with bAbove it stays above other windows until called
// again with false. Without a window manager, only the raise happens.
void SetWindowAbove(HWND hWnd, bool bAbove);
void RaiseWindow(HWND hWnd);
// Gives the window the keyboard focus.
void FocusWindow(HWND hWnd);

// Moves and sizes the window (outer position on the screen).
void MoveWindow(HWND hWnd, const Rect& rect);
// The window's rectangle on the screen; false for an unknown window.
bool GetWindowRect(HWND hWnd, Rect* pRect);

// Starts moving the window with the pointer while the left button is held:
// the window manager's move where it offers one, else the window follows the
// pointer until the button is released. Call on a WM_LBUTTONDOWN.
void BeginWindowMove(HWND hWnd);

// An icon at several sizes (each canvas square), for the window manager.
void SetWindowIcon(HWND hWnd, const std::vector<CCanvas*>& sizes);

// The value by which other programs reach the window (the login handle):
// the display's own identifier of a window on the display (an X window id
// here, the window handle on Windows), the handle itself for a window of
// the message layer alone.
uint32_t PublicWindowHandle(HWND hWnd);

}  // namespace platform
