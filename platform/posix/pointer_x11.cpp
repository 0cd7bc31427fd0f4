#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/debug_channel.h"
#include "platform/display.h"
#include "platform/posix/display_x11_internal.h"

// X11's macros collide with the layer's own names.
#undef None

namespace platform {
namespace x11 {

void RootPosition(CConnection& c, Window xid, int* pX, int* pY) {
  Window child;
  if (!XTranslateCoordinates(c.pDisplay, xid, c.root, 0, 0, pX, pY, &child)) *pX = *pY = 0;
}

void RememberPress(HWND hWnd, int nRootX, int nRootY) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = g_windows.find(hWnd);
  if (it == g_windows.end()) return;
  g_drag = CDrag{hWnd, nRootX, nRootY, it->second.x, it->second.y};
}

// Moves a window that follows the pointer because no window manager moves it.
void FollowPointer(CConnection& c, int nRootX, int nRootY, bool bEnd) {
  CDrag drag;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    drag = g_drag;
    if (bEnd && !drag.bMoving) {
      g_drag.bReleased = true;
      g_drag.nReleaseX = nRootX;
      g_drag.nReleaseY = nRootY;
    } else if (bEnd) {
      g_drag = CDrag{};
    }
  }
  CXWindow w;
  if (!drag.bMoving || !Lookup(drag.hWnd, &w)) return;
  XMoveWindow(c.pDisplay, w.xid, drag.nWindowX + nRootX - drag.nPointerX,
              drag.nWindowY + nRootY - drag.nPointerY);
  if (bEnd) XUngrabPointer(c.pDisplay, CurrentTime);
}

}  // namespace x11

using namespace x11;

bool GetCursorPos(int* pX, int* pY) {
  CConnection* c = Connection();
  if (!c) return false;
  Window rootReturn, child;
  int wx, wy;
  unsigned int mask;
  return XQueryPointer(c->pDisplay, c->root, &rootReturn, &child, pX, pY, &wx, &wy, &mask) != 0;
}

void BeginWindowMove(HWND hWnd) {
  CConnection* c = Connection();
  CXWindow w;
  if (!c || !Lookup(hWnd, &w)) return;
  Display* d = c->pDisplay;
  CDrag drag;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_drag.hWnd != hWnd || g_drag.bMoving) return;  // no press of this window waits
    drag = g_drag;
    if (drag.bReleased) {
      g_drag = CDrag{};
    } else {
      g_drag.bMoving = true;
    }
  }
  if (drag.bReleased) {
    // The whole drag happened before this thread got to the press.
    XMoveWindow(d, w.xid, drag.nWindowX + drag.nReleaseX - drag.nPointerX,
                drag.nWindowY + drag.nReleaseY - drag.nPointerY);
    XFlush(d);
    return;
  }
  if (WindowManagerOffers(*c, c->aMoveResize)) {
    {
      std::lock_guard<std::mutex> lock(g_lock);
      g_drag = CDrag{};
    }
    // The window manager takes the pointer from here.
    XUngrabPointer(d, CurrentTime);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w.xid;
    e.xclient.message_type = c->aMoveResize;
    e.xclient.format = 32;
    e.xclient.data.l[0] = drag.nPointerX;
    e.xclient.data.l[1] = drag.nPointerY;
    e.xclient.data.l[2] = 8;  // _NET_WM_MOVERESIZE_MOVE
    e.xclient.data.l[3] = Button1;
    e.xclient.data.l[4] = 1;
    XSendEvent(d, c->root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    XFlush(d);
    return;
  }
  if (XGrabPointer(d, w.xid, False, ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                   GrabModeAsync, kNone, kNone, CurrentTime) != GrabSuccess) {
    // Without the pointer the window would follow it after the release:
    // the drag is dropped instead.
    std::lock_guard<std::mutex> lock(g_lock);
    g_drag = CDrag{};
    OutputDebugText("display: the pointer could not be grabbed for a drag\n");
    return;
  }
  // Catch up with the pointer at once.
  int nPointerX = 0, nPointerY = 0;
  if (GetCursorPos(&nPointerX, &nPointerY)) FollowPointer(*c, nPointerX, nPointerY, false);
  XFlush(d);
}

}  // namespace platform
