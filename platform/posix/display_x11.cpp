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
#include "platform/posix/x11_screen.h"
#include "platform/posix/display_x11_internal.h"

// X11's macros collide with the layer's own names.
#undef None

namespace platform {
namespace x11 {

std::mutex g_lock;
CConnection* g_connection = nullptr;
std::unordered_map<HWND, CXWindow> g_windows;
CDrag g_drag;
std::mutex g_drainLock;
std::atomic<unsigned long> g_refusedCreateSerial{0};

namespace {

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

void Deliver(HWND hWnd, uint32_t uMsg, WPARAM wParam, LPARAM lParam) {
  PostMessage(hWnd, uMsg, wParam, lParam);
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
  WaitHandle WaitSource() override { return WaitHandle{ConnectionNumber(c_.pDisplay)}; }
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

}  // namespace

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

void AttachToThreadLoop(CConnection& c) {
  std::shared_ptr<CDisplaySource>& pSource = ThreadSource();
  if (!pSource) pSource = std::make_shared<CDisplaySource>(c);
  AddLoopSource(pSource);
}

}  // namespace x11

using namespace x11;

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

}  // namespace platform
