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
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/prompt_window.h"
#include "platform/text.h"
#include "platform/x11_screen.h"

// X11's macros collide with the layer's own names.
#undef None

namespace platform {
namespace {

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

std::mutex g_lock;  // guards g_connection's creation, g_windows and g_drag
CConnection* g_connection = nullptr;  // set once, never freed
std::unordered_map<HWND, CXWindow> g_windows;
CDrag g_drag;
// One pump drains the connection at a time, so no thread takes another's
// event between checking for it and reading it.
std::mutex g_drainLock;

// The serial of the last window creation an X error refused, so that
// CreateDisplayWindow can tell whether its own request failed.
std::atomic<unsigned long> g_refusedCreateSerial{0};

int OnXError(Display* pDisplay, XErrorEvent* pError) {
  if (pError->request_code == X_CreateWindow) g_refusedCreateSerial = pError->serial;
  char text[160] = {};
  XGetErrorText(pDisplay, pError->error_code, text, sizeof text - 1);
  char line[256];
  std::snprintf(line, sizeof line, "display error ignored: %s (request %d, resource 0x%lx)\n",
                text, pError->request_code, pError->resourceid);
  OutputDebugText(line);
  return 0;
}

// Xlib cannot go on without its connection; the updater's work is the
// engine's and is resumable, so the window going away ends it quietly.
int OnXIoError(Display*) { ExitProcess(0); }

Visual* FindArgbVisual(Display* pDisplay, int nScreen) {
  XVisualInfo wanted{};
  wanted.screen = nScreen;
  wanted.depth = 32;
  wanted.c_class = TrueColor;
  int n = 0;
  XVisualInfo* pInfos =
      XGetVisualInfo(pDisplay, VisualScreenMask | VisualDepthMask | VisualClassMask, &wanted, &n);
  Visual* pFound = nullptr;
  for (int i = 0; i < n && !pFound; ++i) {
    // The layout of the canvas: alpha in the top byte, then red, green, blue.
    if (pInfos[i].red_mask == 0xFF0000 && pInfos[i].green_mask == 0xFF00 &&
        pInfos[i].blue_mask == 0xFF) {
      pFound = pInfos[i].visual;
    }
  }
  if (pInfos) XFree(pInfos);
  return pFound;
}

CConnection* Connection() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_connection;
}

HWND FindByXid(Window xid) {
  std::lock_guard<std::mutex> lock(g_lock);
  for (const auto& [hWnd, w] : g_windows) {
    if (w.xid == xid) return hWnd;
  }
  return 0;
}

bool Lookup(HWND hWnd, CXWindow* pOut) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = g_windows.find(hWnd);
  if (it == g_windows.end()) return false;
  *pOut = it->second;
  return true;
}

bool WindowManagerOffers(CConnection& c, Atom feature) {
  Atom type;
  int format;
  unsigned long n = 0, after = 0;
  unsigned char* pData = nullptr;
  if (XGetWindowProperty(c.pDisplay, c.root, c.aSupported, 0, 4096, False, XA_ATOM, &type, &format,
                         &n, &after, &pData) != Success || !pData) {
    return false;
  }
  bool bFound = false;
  const auto* pAtoms = reinterpret_cast<const Atom*>(pData);
  for (unsigned long i = 0; i < n; ++i) bFound = bFound || pAtoms[i] == feature;
  XFree(pData);
  return bFound;
}

// A window manager that exited leaves _NET_SUPPORTED behind: one is running
// only while the window _NET_SUPPORTING_WM_CHECK names exists and names
// itself in the same property.
bool HasWindowManager(CConnection& c) {
  const auto check = [&](Window window, Window* pOut) {
    Atom type;
    int format;
    unsigned long n = 0, after = 0;
    unsigned char* pData = nullptr;
    *pOut = kNone;
    // A vanished window answers with an error (logged, like any other).
    const int r = XGetWindowProperty(c.pDisplay, window, c.aSupportingCheck, 0, 1, False, XA_WINDOW,
                                     &type, &format, &n, &after, &pData);
    if (r == Success && pData && n == 1 && format == 32) *pOut = *reinterpret_cast<Window*>(pData);
    if (pData) XFree(pData);
  };
  Window named = kNone, self = kNone;
  check(c.root, &named);
  if (named == kNone) return false;
  check(named, &self);
  return self == named && WindowManagerOffers(c, c.aNetWmState);
}

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

void RootPosition(CConnection& c, Window xid, int* pX, int* pY) {
  Window child;
  if (!XTranslateCoordinates(c.pDisplay, xid, c.root, 0, 0, pX, pY, &child)) *pX = *pY = 0;
}

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

void Deliver(HWND hWnd, uint32_t uMsg, WPARAM wParam, LPARAM lParam) {
  PostMessage(hWnd, uMsg, wParam, lParam);
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

void Route(CConnection& c, XEvent& e) {
  const HWND hWnd = FindByXid(e.xany.window);
  switch (e.type) {
    case ButtonPress:
      if (hWnd && e.xbutton.button == Button1) {
        RememberPress(hWnd, e.xbutton.x_root, e.xbutton.y_root);
        Deliver(hWnd, WM_LBUTTONDOWN, 0, MakePointParam(e.xbutton.x, e.xbutton.y));
      }
      return;
    case ButtonRelease:
      if (e.xbutton.button != Button1) return;
      FollowPointer(c, e.xbutton.x_root, e.xbutton.y_root, true);
      if (hWnd) Deliver(hWnd, WM_LBUTTONUP, 0, MakePointParam(e.xbutton.x, e.xbutton.y));
      return;
    case MotionNotify:
      FollowPointer(c, e.xmotion.x_root, e.xmotion.y_root, false);
      if (hWnd) Deliver(hWnd, WM_MOUSEMOVE, 0, MakePointParam(e.xmotion.x, e.xmotion.y));
      return;
    case KeyPress: {
      if (!hWnd) return;
      const KeySym key = XLookupKeysym(&e.xkey, 0);
      const WPARAM vk = key == XK_Return || key == XK_KP_Enter ? VK_RETURN
                        : key == XK_Escape                     ? VK_ESCAPE
                                                               : static_cast<WPARAM>(key & 0xFFFF);
      Deliver(hWnd, WM_KEYDOWN, vk, 0);
      return;
    }
    case ConfigureNotify: {
      if (!hWnd) return;
      int x = 0, y = 0;
      RootPosition(c, e.xconfigure.window, &x, &y);
      bool bMoved = false, bSized = false;
      {
        std::lock_guard<std::mutex> lock(g_lock);
        auto it = g_windows.find(hWnd);
        if (it == g_windows.end()) return;
        CXWindow& w = it->second;
        bMoved = w.x != x || w.y != y;
        bSized = w.width != e.xconfigure.width || w.height != e.xconfigure.height;
        w.x = x;
        w.y = y;
        w.width = e.xconfigure.width;
        w.height = e.xconfigure.height;
      }
      if (bMoved) Deliver(hWnd, WM_MOVE, 0, MakePointParam(x, y));
      if (bSized) Deliver(hWnd, WM_SIZE, 0, MakePointParam(e.xconfigure.width, e.xconfigure.height));
      return;
    }
    case ClientMessage: {
      if (!hWnd || e.xclient.format != 32) return;
      if (e.xclient.message_type == c.aProtocols &&
          static_cast<Atom>(e.xclient.data.l[0]) == c.aDeleteWindow) {
        Deliver(hWnd, WM_CLOSE, 0, 0);
        return;
      }
      if (e.xclient.message_type != c.aClientMessage) return;
      CXWindow w;
      if (!Lookup(hWnd, &w)) return;
      const auto uMsg = static_cast<uint32_t>(e.xclient.data.l[0]);
      if (std::find(w.externalMessages.begin(), w.externalMessages.end(), uMsg) ==
          w.externalMessages.end()) {
        return;
      }
      Deliver(hWnd, uMsg, static_cast<WPARAM>(e.xclient.data.l[1]),
              static_cast<LPARAM>(e.xclient.data.l[2]));
      return;
    }
    default:
      return;
  }
}

// The display as a source of the owning thread's loop.
class CDisplaySource final : public ILoopSource {
 public:
  explicit CDisplaySource(CConnection& c) : c_(c) {}
  int Descriptor() override { return ConnectionNumber(c_.pDisplay); }
  bool Pump() override {
    std::vector<XEvent> events;
    {
      std::lock_guard<std::mutex> lock(g_drainLock);
      // XPending flushes what was asked and reads what has arrived.
      while (XPending(c_.pDisplay) > 0) {
        XEvent e;
        XNextEvent(c_.pDisplay, &e);
        events.push_back(e);
      }
    }
    for (XEvent& e : events) Route(c_, e);
    return !events.empty();
  }

 private:
  CConnection& c_;
};

// One source per thread that owns display windows.
std::shared_ptr<CDisplaySource>& ThreadSource() {
  thread_local std::shared_ptr<CDisplaySource> pSource;
  return pSource;
}

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

void SetUtf8Property(CConnection& c, Window xid, Atom property, const std::string& value) {
  XChangeProperty(c.pDisplay, xid, property, c.aUtf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(value.data()), static_cast<int>(value.size()));
}

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

}  // namespace

Rect PrimaryWorkArea(Display* pDisplay) {
  const int nScreen = DefaultScreen(pDisplay);
  const Window root = RootWindow(pDisplay, nScreen);
  Rect area{0, 0, DisplayWidth(pDisplay, nScreen), DisplayHeight(pDisplay, nScreen)};
  // The primary monitor (the first when none is marked): on two monitors
  // side by side the whole screen's centre lies on the seam.
  int nMonitors = 0;
  int nEvent = 0, nError = 0;
  if (XRRQueryExtension(pDisplay, &nEvent, &nError)) {
    if (XRRMonitorInfo* pMonitors = XRRGetMonitors(pDisplay, root, True, &nMonitors)) {
      const XRRMonitorInfo* pChosen = nMonitors > 0 ? &pMonitors[0] : nullptr;
      for (int i = 0; i < nMonitors; ++i) {
        if (pMonitors[i].primary) pChosen = &pMonitors[i];
      }
      if (pChosen && pChosen->width > 0 && pChosen->height > 0) {
        area = Rect{pChosen->x, pChosen->y, pChosen->x + pChosen->width, pChosen->y + pChosen->height};
      }
      XRRFreeMonitors(pMonitors);
    }
  }
  // What the window manager leaves free of panels, on that monitor.
  Atom type;
  int format;
  unsigned long n = 0, after = 0;
  unsigned char* pData = nullptr;
  const Atom workArea = XInternAtom(pDisplay, "_NET_WORKAREA", False);
  if (XGetWindowProperty(pDisplay, root, workArea, 0, 4, False, XA_CARDINAL, &type, &format, &n, &after,
                         &pData) == Success &&
      pData && n >= 4 && format == 32) {
    const auto* p = reinterpret_cast<const long*>(pData);
    const Rect free{static_cast<int>(p[0]), static_cast<int>(p[1]), static_cast<int>(p[0] + p[2]),
                    static_cast<int>(p[1] + p[3])};
    const Rect both{std::max(area.left, free.left), std::max(area.top, free.top),
                    std::min(area.right, free.right), std::min(area.bottom, free.bottom)};
    if (both.Width() > 0 && both.Height() > 0) area = both;
  }
  if (pData) XFree(pData);
  return area;
}

bool OpenDisplay() {
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_connection) return true;
  const std::string name = GetEnvironmentVariable("DISPLAY");
  if (name.empty()) return false;
  // Windows belong to several threads, and each pumps the connection.
  static const bool bThreads = XInitThreads() != 0;
  if (!bThreads) return false;
  Display* pDisplay = XOpenDisplay(name.c_str());
  if (!pDisplay) return false;
  int nEvent = 0, nError = 0;
  if (!XShapeQueryExtension(pDisplay, &nEvent, &nError)) {
    XCloseDisplay(pDisplay);
    return false;
  }
  XSetErrorHandler(OnXError);
  XSetIOErrorHandler(OnXIoError);
  auto* c = new CConnection;
  c->pDisplay = pDisplay;
  c->nScreen = DefaultScreen(pDisplay);
  c->root = RootWindow(pDisplay, c->nScreen);
  c->pArgbVisual = FindArgbVisual(pDisplay, c->nScreen);
  auto atom = [pDisplay](const char* name) { return XInternAtom(pDisplay, name, False); };
  c->aProtocols = atom("WM_PROTOCOLS");
  c->aDeleteWindow = atom("WM_DELETE_WINDOW");
  c->aMotifHints = atom("_MOTIF_WM_HINTS");
  c->aNetWmName = atom("_NET_WM_NAME");
  c->aUtf8 = atom("UTF8_STRING");
  c->aNetWmState = atom("_NET_WM_STATE");
  c->aSkipTaskbar = atom("_NET_WM_STATE_SKIP_TASKBAR");
  c->aSkipPager = atom("_NET_WM_STATE_SKIP_PAGER");
  c->aAbove = atom("_NET_WM_STATE_ABOVE");
  c->aWorkArea = atom("_NET_WORKAREA");
  c->aMoveResize = atom("_NET_WM_MOVERESIZE");
  c->aSupported = atom("_NET_SUPPORTED");
  c->aSupportingCheck = atom("_NET_SUPPORTING_WM_CHECK");
  c->aWindowType = atom("_NET_WM_WINDOW_TYPE");
  c->aTypeDialog = atom("_NET_WM_WINDOW_TYPE_DIALOG");
  c->aNetWmIcon = atom("_NET_WM_ICON");
  c->aNetWmPid = atom("_NET_WM_PID");
  c->aClientMessage = atom(kClientMessageType);
  g_connection = c;
  SetPromptWindowFunction(ShowPromptWindow);
  return true;
}

bool HasDisplay() { return Connection() != nullptr; }

Rect GetWorkArea() {
  CConnection* c = Connection();
  if (!c) return Rect{};
  return PrimaryWorkArea(c->pDisplay);
}

bool GetCursorPos(int* pX, int* pY) {
  CConnection* c = Connection();
  if (!c) return false;
  Window rootReturn, child;
  int wx, wy;
  unsigned int mask;
  return XQueryPointer(c->pDisplay, c->root, &rootReturn, &child, pX, pY, &wx, &wy, &mask) != 0;
}

HWND CreateDisplayWindow(const WindowOptions& options, WindowProc proc) {
  CConnection* c = Connection();
  if (!c) return 0;
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
  XClassHint classHint{const_cast<char*>("qarnauto"), const_cast<char*>("Qarnauto")};
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
  std::shared_ptr<CDisplaySource>& pSource = ThreadSource();
  if (!pSource) pSource = std::make_shared<CDisplaySource>(*c);
  AddLoopSource(pSource);
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

namespace {

// A channel of 8 bits placed into the visual's mask for it.
unsigned long IntoMask(uint32_t value, unsigned long mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctzl(mask);
  const int width = __builtin_popcountl(mask);
  const unsigned long scaled = width >= 8 ? static_cast<unsigned long>(value) << (width - 8)
                                          : static_cast<unsigned long>(value) >> (8 - width);
  return (scaled << shift) & mask;
}

// The canvas as an image in the visual: the canvas's own rows when
// they already are that (32 bits a pixel, the usual masks, this machine's
// byte order), else a converted copy, so a 16-bit display or a server of
// the other byte order shows the true colours.
}  // namespace

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

unsigned long NativeWindowId(HWND hWnd) {
  CXWindow w;
  return Lookup(hWnd, &w) ? w.xid : 0;
}

}  // namespace platform
