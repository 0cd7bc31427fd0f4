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

#include "platform/display.h"
#include "platform/posix/display_x11_internal.h"

// X11's macros collide with the layer's own names.
#undef None

namespace platform {
namespace x11 {

// The size is fixed (minimum = maximum), the position the one asked for.
void SetFixedSize(Display* d, Window xid, int x, int y, int width, int height) {
  XSizeHints* pHints = XAllocSizeHints();
  pHints->flags = USPosition | PPosition | USSize | PSize | PMinSize | PMaxSize;
  pHints->x = x;
  pHints->y = y;
  pHints->width = pHints->min_width = pHints->max_width = width;
  pHints->height = pHints->min_height = pHints->max_height = height;
  XSetWMNormalHints(d, xid, pHints);
  XFree(pHints);
}

namespace {

void SetUtf8Property(CConnection& c, Window xid, Atom property, const std::string& value) {
  XChangeProperty(c.pDisplay, xid, property, c.aUtf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(value.data()), static_cast<int>(value.size()));
}

}  // namespace

// The title as _NET_WM_NAME (UTF-8) and as WM_NAME in a form every reader
// of that property understands: Latin-1 STRING where it fits, else
// COMPOUND_TEXT, never raw UTF-8 labelled as STRING.
void SetTitle(CConnection& c, Window xid, const std::string& title) {
  SetUtf8Property(c, xid, c.aNetWmName, title);
  char* list[1] = {const_cast<char*>(title.c_str())};
  XTextProperty text{};
  if (Xutf8TextListToTextProperty(c.pDisplay, list, 1, XStdICCTextStyle, &text) >= Success) {
    XSetWMName(c.pDisplay, xid, &text);
    XFree(text.value);
  }
}

}  // namespace x11

using namespace x11;

void SetWindowIcon(HWND hWnd, const std::vector<CCanvas*>& sizes) {
  CConnection* c = Connection();
  CXWindow w;
  if (!c || !Lookup(hWnd, &w)) return;
  // _NET_WM_ICON: width, height, then rows of non-premultiplied ARGB, as
  // longs, for each size.
  std::vector<long> data;
  for (CCanvas* pCanvas : sizes) {
    data.push_back(pCanvas->Width());
    data.push_back(pCanvas->Height());
    for (int y = 0; y < pCanvas->Height(); ++y) {
      for (int x = 0; x < pCanvas->Width(); ++x) {
        const uint32_t p = pCanvas->Pixel(x, y);
        const uint32_t a = p >> 24;
        auto un = [a](uint32_t v) { return a == 0 ? 0u : std::min<uint32_t>(255, (v * 255 + a / 2) / a); };
        data.push_back(static_cast<long>((a << 24) | (un((p >> 16) & 0xFF) << 16) |
                                         (un((p >> 8) & 0xFF) << 8) | un(p & 0xFF)));
      }
    }
  }
  XChangeProperty(c->pDisplay, w.xid, c->aNetWmIcon, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
  XFlush(c->pDisplay);
}

uint32_t PublicWindowHandle(HWND hWnd) {
  CXWindow w;
  // X window ids are 29-bit values.
  return static_cast<uint32_t>(Lookup(hWnd, &w) ? w.xid : hWnd);
}

}  // namespace platform
