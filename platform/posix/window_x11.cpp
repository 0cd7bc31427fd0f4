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
#include "platform/posix/x11_screen.h"
#include "platform/process.h"
#include "platform/program_identity.h"
#include "platform/text.h"

// X11's macros collide with the layer's own names.
#undef None

namespace platform {
namespace x11 {

// Sets the window's bounding and input shapes to the pixels that show.
void ShapeFromPixels(CConnection& c, const CXWindow& w, CCanvas& canvas) {
  // The server clips the shape to the window's size.
  const int nWidth = canvas.Width(), nHeight = canvas.Height();
  const uint32_t* pPixels = canvas.Pixels();
  const size_t nRow = static_cast<size_t>(canvas.Stride()) / 4;
  const uint32_t mask = w.kind == WindowKind::kAlpha ? 0xFF000000u : 0x00FFFFFFu;
  std::vector<XRectangle> runs;
  for (int y = 0; y < nHeight; ++y) {
    const uint32_t* pRow = pPixels + nRow * y;
    for (int x = 0; x < nWidth;) {
      if ((pRow[x] & mask) == 0) {
        ++x;
        continue;
      }
      const int start = x;
      while (x < nWidth && (pRow[x] & mask) != 0) ++x;
      runs.push_back(XRectangle{static_cast<short>(start), static_cast<short>(y),
                                static_cast<unsigned short>(x - start), 1});
    }
  }
  for (int kind : {ShapeBounding, ShapeInput}) {
    XShapeCombineRectangles(c.pDisplay, w.xid, kind, 0, 0, runs.data(), static_cast<int>(runs.size()),
                            ShapeSet, YXBanded);
  }
}

namespace {

// Asks the window manager to add or remove a state of a mapped window.
void ChangeState(CConnection& c, Window xid, Atom state, bool bAdd) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = xid;
  e.xclient.message_type = c.aNetWmState;
  e.xclient.format = 32;
  e.xclient.data.l[0] = bAdd ? 1 : 0;
  e.xclient.data.l[1] = static_cast<long>(state);
  e.xclient.data.l[3] = 1;
  XSendEvent(c.pDisplay, c.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
}

// A channel of 8 bits placed into the visual's mask for it.
unsigned long IntoMask(uint32_t value, unsigned long mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctzl(mask);
  const int width = __builtin_popcountl(mask);
  const unsigned long scaled = width >= 8 ? static_cast<unsigned long>(value) << (width - 8)
                                          : static_cast<unsigned long>(value) >> (8 - width);
  return (scaled << shift) & mask;
}

// Raises the windows the window owns above it, as a window manager keeps
// transient windows; without one nobody else would.
void RaiseOwned(CConnection& c, HWND hOwner) {
  std::vector<Window> owned;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    for (const auto& [hWnd, w] : g_windows) {
      if (w.hOwner == hOwner) owned.push_back(w.xid);
    }
  }
  for (Window xid : owned) XRaiseWindow(c.pDisplay, xid);
}

}  // namespace
}  // namespace x11

using namespace x11;

HWND CreateDisplayWindow(const WindowOptions& options, WindowProc proc, Outcome* pWhy) {
  CConnection* c = Connection();
  if (!c) {
    if (pWhy != nullptr) *pWhy = Outcome::Failure("no display is open");
    return 0;
  }
  Display* d = c->pDisplay;
  CXWindow w;
  w.kind = options.kind;
  w.externalMessages = options.externalMessages;
  w.width = std::max(options.rect.Width(), 1);
  w.height = std::max(options.rect.Height(), 1);
  XSetWindowAttributes attributes{};
  unsigned long valueMask = CWEventMask | CWBackPixel | CWBorderPixel;
  attributes.event_mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                          StructureNotifyMask | ExposureMask;
  if (options.kind == WindowKind::kAlpha && c->pArgbVisual) {
    w.pVisual = c->pArgbVisual;
    w.nDepth = 32;
    w.colormap = XCreateColormap(d, c->root, w.pVisual, AllocNone);
    attributes.colormap = w.colormap;
    valueMask |= CWColormap;
  } else {
    // Without a 32-bit visual the shape still cuts the transparent pixels
    // away; translucent ones show blended over black.
    w.pVisual = DefaultVisual(d, c->nScreen);
    w.nDepth = DefaultDepth(d, c->nScreen);
  }
  CXWindow owner;
  const bool bOwned = options.hOwner && Lookup(options.hOwner, &owner);
  Window parent = c->root;
  int nLeft = options.rect.left, nTop = options.rect.top;
  if (options.bInsideOwner && bOwned) {
    // A child of the owner's window: no window manager places or stacks
    // it, so it can never be apart from the owner or beneath it.
    parent = owner.xid;
    w.parentXid = owner.xid;
    nLeft = 0;
    nTop = 0;
    if (w.pVisual != owner.pVisual) {
      attributes.colormap = DefaultColormap(d, c->nScreen);
      valueMask |= CWColormap;
    }
  }
  // Xlib reports a refused window later, as an error: the creation is
  // confirmed before the window is used, so a display that cannot take it
  // leaves the caller free to go on without one.
  const unsigned long serial = NextRequest(d);
  w.xid = XCreateWindow(d, parent, nLeft, nTop, w.width, w.height, 0, w.nDepth, InputOutput,
                        w.pVisual, valueMask, &attributes);
  XSync(d, False);
  if (w.xid == kNone || g_refusedCreateSerial.load() == serial) {
    if (w.colormap != kNone) XFreeColormap(d, w.colormap);
    return 0;
  }

  // Undecorated: the skin is the whole window.
  const long motif[5] = {2, 0, 0, 0, 0};
  XChangeProperty(d, w.xid, c->aMotifHints, c->aMotifHints, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(motif), 5);
  SetFixedSize(d, w.xid, options.rect.left, options.rect.top, w.width, w.height);
  XSetWMProtocols(d, w.xid, &c->aDeleteWindow, 1);
  const ProgramIdentity& identity = GetProgramIdentity();
  XClassHint classHint{const_cast<char*>(identity.name.c_str()),
                       const_cast<char*>(identity.className.c_str())};
  XSetClassHint(d, w.xid, &classHint);
  const std::string title = Utf16ToUtf8(options.title);
  SetTitle(*c, w.xid, title);
  const long pid = GetCurrentProcessId();
  XChangeProperty(d, w.xid, c->aNetWmPid, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  // Every window here has a fixed size and no frame: a dialog, which tiling
  // window managers float rather than stretch over a tile.
  XChangeProperty(d, w.xid, c->aWindowType, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&c->aTypeDialog), 1);
  if (options.bSkipTaskbar) {
    const Atom states[2] = {c->aSkipTaskbar, c->aSkipPager};
    XChangeProperty(d, w.xid, c->aNetWmState, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(states), 2);
  }
  if (bOwned) {
    if (w.parentXid == kNone) XSetTransientForHint(d, w.xid, owner.xid);
    w.hOwner = options.hOwner;
  }
  w.x = options.rect.left;
  w.y = options.rect.top;
  if (options.kind != WindowKind::kOpaque) {
    // Nothing shows before the first picture: no black rectangle.
    for (int kind : {ShapeBounding, ShapeInput}) {
      XShapeCombineRectangles(d, w.xid, kind, 0, 0, nullptr, 0, ShapeSet, YXBanded);
    }
  }

  const HWND hWnd = CreateMessageWindow(std::move(proc));
  {
    std::lock_guard<std::mutex> lock(g_lock);
    g_windows[hWnd] = w;
  }
  AttachToThreadLoop(*c);
  XFlush(d);
  return hWnd;
}

void DestroyDisplayWindow(HWND hWnd) {
  CXWindow w;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_windows.find(hWnd);
    if (it == g_windows.end()) return;
    w = it->second;
    g_windows.erase(it);
    if (g_drag.hWnd == hWnd) g_drag = CDrag{};
  }
  DestroyMessageWindow(hWnd);
  CConnection* c = Connection();
  XDestroyWindow(c->pDisplay, w.xid);
  if (w.picture != kNone) XFreePixmap(c->pDisplay, w.picture);
  if (w.colormap != kNone) XFreeColormap(c->pDisplay, w.colormap);
  XFlush(c->pDisplay);
}

// The canvas as an image in the visual: the canvas's own rows when
// they already are that (32 bits a pixel, the usual masks, this machine's
// byte order), else a converted copy, so a 16-bit display or a server of
// the other byte order shows the true colours.
XImage* CanvasImage(Display* d, Visual* pVisual, int nDepth, CCanvas& canvas) {
  const int nWidth = canvas.Width(), nHeight = canvas.Height();
  XImage* pImage = XCreateImage(d, pVisual, nDepth, ZPixmap, 0, nullptr, nWidth, nHeight, 32, 0);
  if (!pImage) return nullptr;
  const uint16_t probe = 1;
  const int hostOrder = *reinterpret_cast<const uint8_t*>(&probe) == 1 ? LSBFirst : MSBFirst;
  const Visual* v = pVisual;
  if (pImage->bits_per_pixel == 32 && pImage->byte_order == hostOrder && v->red_mask == 0xFF0000 &&
      v->green_mask == 0xFF00 && v->blue_mask == 0xFF) {
    pImage->data = reinterpret_cast<char*>(const_cast<uint32_t*>(canvas.Pixels()));
    pImage->bytes_per_line = canvas.Stride();
    return pImage;
  }
  pImage->data = static_cast<char*>(std::malloc(static_cast<size_t>(pImage->bytes_per_line) * nHeight));
  if (!pImage->data) {
    XDestroyImage(pImage);
    return nullptr;
  }
  // A 32-bit visual keeps alpha in the bits no colour uses.
  const unsigned long colours = v->red_mask | v->green_mask | v->blue_mask;
  const unsigned long alphaMask =
      nDepth == 32 ? (0xFFFFFFFFul & ~colours) : 0;
  const auto* pRow = reinterpret_cast<const uint8_t*>(canvas.Pixels());
  for (int y = 0; y < nHeight; ++y, pRow += canvas.Stride()) {
    const auto* pPixels = reinterpret_cast<const uint32_t*>(pRow);
    for (int x = 0; x < nWidth; ++x) {
      const uint32_t p = pPixels[x];
      XPutPixel(pImage, x, y,
                IntoMask((p >> 16) & 0xFF, v->red_mask) | IntoMask((p >> 8) & 0xFF, v->green_mask) |
                    IntoMask(p & 0xFF, v->blue_mask) | IntoMask(p >> 24, alphaMask));
    }
  }
  return pImage;
}

void SetWindowContent(HWND hWnd, CCanvas& canvas) {
  CConnection* c = Connection();
  CXWindow w;
  if (!c || !Lookup(hWnd, &w)) return;
  Display* d = c->pDisplay;
  const int nWidth = canvas.Width(), nHeight = canvas.Height();
  const Pixmap picture = XCreatePixmap(d, w.xid, nWidth, nHeight, w.nDepth);
  XImage* pImage = CanvasImage(d, w.pVisual, w.nDepth, canvas);
  if (!pImage) {
    XFreePixmap(d, picture);
    return;
  }
  GC gc = XCreateGC(d, picture, 0, nullptr);
  XPutImage(d, picture, gc, pImage, 0, 0, 0, 0, nWidth, nHeight);
  XFreeGC(d, gc);
  // The canvas owns its pixels; a converted copy is the image's own.
  if (reinterpret_cast<const uint32_t*>(pImage->data) == canvas.Pixels()) pImage->data = nullptr;
  XDestroyImage(pImage);
  if (w.kind != WindowKind::kOpaque) ShapeFromPixels(*c, w, canvas);
  XSetWindowBackgroundPixmap(d, w.xid, picture);
  XClearWindow(d, w.xid);
  Pixmap old = kNone;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_windows.find(hWnd);
    if (it != g_windows.end()) {
      old = it->second.picture;
      it->second.picture = picture;
    } else {
      old = picture;
    }
  }
  if (old != kNone) XFreePixmap(d, old);
  XFlush(d);
}

void ShowWindow(HWND hWnd, ShowCommand command) {
  CConnection* c = Connection();
  CXWindow w;
  if (!c || !Lookup(hWnd, &w)) return;
  switch (command) {
    case ShowCommand::kHide:
      XUnmapWindow(c->pDisplay, w.xid);
      break;
    case ShowCommand::kShow:
      XMapRaised(c->pDisplay, w.xid);
      // Some window managers place a window where they like at its first
      // mapping: the position asked for is the one that counts.
      if (w.parentXid == kNone) XMoveWindow(c->pDisplay, w.xid, w.x, w.y);
      RaiseOwned(*c, hWnd);
      break;
    case ShowCommand::kMinimise:
      // Without a window manager nobody could bring an iconified window
      // back but the program: there, minimising hides.
      if (HasWindowManager(*c)) {
        XIconifyWindow(c->pDisplay, w.xid, c->nScreen);
      } else {
        XUnmapWindow(c->pDisplay, w.xid);
      }
      break;
  }
  XFlush(c->pDisplay);
}

void SetWindowAbove(HWND hWnd, bool bAbove) {
  CConnection* c = Connection();
  CXWindow w;
  if (!c || !Lookup(hWnd, &w)) return;
  XRaiseWindow(c->pDisplay, w.xid);
  RaiseOwned(*c, hWnd);
  if (HasWindowManager(*c)) ChangeState(*c, w.xid, c->aAbove, bAbove);
  XFlush(c->pDisplay);
}

void RaiseWindow(HWND hWnd) {
  CConnection* c = Connection();
  CXWindow w;
  if (!c || !Lookup(hWnd, &w)) return;
  XRaiseWindow(c->pDisplay, w.xid);
  RaiseOwned(*c, hWnd);
  XFlush(c->pDisplay);
}

void FocusWindow(HWND hWnd) {
  CConnection* c = Connection();
  CXWindow w;
  if (!c || !Lookup(hWnd, &w)) return;
  XWindowAttributes attributes;
  if (XGetWindowAttributes(c->pDisplay, w.xid, &attributes) && attributes.map_state == IsViewable) {
    XSetInputFocus(c->pDisplay, w.xid, RevertToParent, CurrentTime);
  }
  XFlush(c->pDisplay);
}

void MoveWindow(HWND hWnd, const Rect& rect) {
  CConnection* c = Connection();
  if (!c) return;
  Window xid = kNone;
  int nLeft = rect.left, nTop = rect.top;
  bool bInside = false;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_windows.find(hWnd);
    if (it == g_windows.end()) return;
    xid = it->second.xid;
    // Remembered for a later show; the configure event reports the move.
    it->second.x = rect.left;
    it->second.y = rect.top;
    bInside = it->second.parentXid != kNone;
    if (bInside) {
      // Inside the owner it covers the owner from its corner: a position
      // worked out from where the owner was last seen would go wrong
      // whenever a window manager has moved the owner since.
      nLeft = 0;
      nTop = 0;
    }
  }
  // A top-level window's fixed size follows its new size.
  if (!bInside) {
    SetFixedSize(c->pDisplay, xid, rect.left, rect.top, std::max(rect.Width(), 1),
                 std::max(rect.Height(), 1));
  }
  XMoveResizeWindow(c->pDisplay, xid, nLeft, nTop, std::max(rect.Width(), 1),
                    std::max(rect.Height(), 1));
  XFlush(c->pDisplay);
}

bool GetWindowRect(HWND hWnd, Rect* pRect) {
  CConnection* c = Connection();
  CXWindow w;
  if (!c || !Lookup(hWnd, &w)) return false;
  int x = 0, y = 0;
  RootPosition(*c, w.xid, &x, &y);
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(c->pDisplay, w.xid, &attributes)) return false;
  *pRect = Rect{x, y, x + attributes.width, y + attributes.height};
  return true;
}

}  // namespace platform
