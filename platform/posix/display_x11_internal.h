// The X11 display's shared state, for the files that implement the
// display's services: the connection, the windows it knows and the drag in
// progress. Guarded by g_lock except where said.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/canvas.h"
#include "platform/display.h"

namespace platform {
namespace x11 {

constexpr unsigned long kNone = 0L;

struct CXWindow {
  Window xid = kNone;
  WindowKind kind = WindowKind::kOpaque;
  Visual* pVisual = nullptr;
  int nDepth = 0;
  Colormap colormap = kNone;
  Pixmap picture = kNone;  // the content, as the window's background
  std::vector<uint32_t> externalMessages;
  HWND hOwner = 0;
  Window parentXid = kNone;  // the owner's window, for a window inside it
  // Last position and size reported, so moves and sizes are told once.
  int x = 0, y = 0, width = 0, height = 0;
};

// One mover at a time: the pointer can drag only one window. A move starts
// from the press that asked for it, which the window's thread may handle
// after the pointer has moved on, or even after the release.
struct CDrag {
  HWND hWnd = 0;                     // the window pressed on
  int nPointerX = 0, nPointerY = 0;  // where the press was, on the screen
  int nWindowX = 0, nWindowY = 0;    // where the window was then
  bool bMoving = false;              // the window follows the pointer
  bool bReleased = false;            // the release came before the move began
  int nReleaseX = 0, nReleaseY = 0;
};

struct CConnection {
  Display* pDisplay = nullptr;
  int nScreen = 0;
  Window root = kNone;
  Visual* pArgbVisual = nullptr;  // null: no 32-bit visual on this display
  Atom aProtocols, aDeleteWindow, aMotifHints, aNetWmName, aUtf8, aNetWmState,
      aSkipTaskbar, aSkipPager, aAbove, aWorkArea, aMoveResize, aSupported, aSupportingCheck,
      aWindowType, aTypeDialog, aNetWmIcon, aNetWmPid, aClientMessage;
};

extern std::mutex g_lock;  // guards g_connection's creation, g_windows and g_drag
extern CConnection* g_connection;  // set once, never freed
extern std::unordered_map<HWND, CXWindow> g_windows;
extern CDrag g_drag;
// One pump drains the connection at a time, so no thread takes another's
// event between checking for it and reading it.
extern std::mutex g_drainLock;
// The serial of the last window creation an X error refused, so that
// CreateDisplayWindow can tell whether its own request failed.
extern std::atomic<unsigned long> g_refusedCreateSerial;

// Connection and event routing (display_x11.cpp).
CConnection* Connection();
HWND FindByXid(Window xid);
bool Lookup(HWND hWnd, CXWindow* pOut);
bool WindowManagerOffers(CConnection& c, Atom feature);
bool HasWindowManager(CConnection& c);
// Makes the display a source of the calling thread's loop (once a thread).
void AttachToThreadLoop(CConnection& c);

// Windows, shapes and pictures (window_x11.cpp).
void ShapeFromPixels(CConnection& c, const CXWindow& w, CCanvas& canvas);

// Drag and pointer (pointer_x11.cpp).
void RootPosition(CConnection& c, Window xid, int* pX, int* pY);
void RememberPress(HWND hWnd, int nRootX, int nRootY);
void FollowPointer(CConnection& c, int nRootX, int nRootY, bool bEnd);

// Icons and properties (window_properties_x11.cpp).
void SetFixedSize(Display* d, Window xid, int x, int y, int width, int height);
void SetTitle(CConnection& c, Window xid, const std::string& title);

}  // namespace x11
}  // namespace platform
