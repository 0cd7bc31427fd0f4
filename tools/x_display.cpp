#include "tools/x_display.h"

// Before Xlib's headers, whose macros (None, Bool) break it.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/shape.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/display.h"
#include "platform/environment.h"
#include "platform/process.h"

namespace tools {
namespace {

Display* D(void* p) { return static_cast<Display*>(p); }

// Runs the program with its arguments; the child's pid, or -1.
int Spawn(const std::vector<std::string>& argv, int nKeepFd = -1) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // The child: quiet, and only the descriptor asked for stays open.
  const int devNull = open("/dev/null", O_RDWR);
  dup2(devNull, 0);
  dup2(devNull, 1);
  dup2(devNull, 2);
  for (int fd = 3; fd < 1024; ++fd) {
    if (fd != nKeepFd) close(fd);
  }
  execvp(args[0], args.data());
  _exit(127);
}

void EndChild(int* pPid) {
  if (*pPid <= 0) return;
  kill(*pPid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 200; ++i) {
    if (waitpid(*pPid, &status, WNOHANG) == *pPid) {
      *pPid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(*pPid, SIGKILL);
  waitpid(*pPid, &status, 0);
  *pPid = -1;
}

bool WaitFor(const std::function<bool()>& condition, int nMilliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Xlib has one error handler per process: the probe's ignores errors on
// its own connections and hands the others to the handler it replaced (the
// display layer's, in tests that run windows in-process).
std::mutex g_probeLock;
std::vector<Display*> g_probes;  // guarded by g_probeLock
XErrorHandler g_previous = nullptr;

int IgnoreErrors(Display* pDisplay, XErrorEvent* pError) {
  XErrorHandler previous = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_probeLock);
    if (std::find(g_probes.begin(), g_probes.end(), pDisplay) != g_probes.end()) return 0;
    previous = g_previous;
  }
  return previous ? previous(pDisplay, pError) : 0;
}

}  // namespace

bool CPrivateDisplay::Start(const DisplayOptions& options) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  nServer_ = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", options.screen,
                    "-nolisten", "tcp", options.bArgbVisual ? "+extension" : "-extension",
                    "Composite", "-noreset"},
                   fds[1]);
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    Stop();
    return false;
  }
  name_ = ":" + number;
  bExported_ = options.bExport;
  if (bExported_) platform::SetEnvironmentVariable("DISPLAY", name_);
  bShadows_ = options.bShadows;
  for (size_t i = 0; i < options.monitors.size(); ++i) {
    // A name starting with "*" marks the primary monitor; sizes in mm are
    // made up, "none" ties the monitor to no output.
    const std::string& m = options.monitors[i];
    const size_t x = m.find('x'), plus = m.find('+');
    const std::string geometry = m.substr(0, x) + "/300x" + m.substr(x + 1, plus - x - 1) + "/200" +
                                 m.substr(plus);
    const int pid = Spawn({"xrandr", "--display", name_, "--setmonitor",
                           (i == 0 ? "*m" : "m") + std::to_string(i), geometry, "none"});
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      return false;
    }
  }
  if (!options.windowManager.empty() && !StartWindowManager(options.windowManager)) return false;
  return !options.bCompositor || StartCompositor();
}

bool CPrivateDisplay::StartWindowManager(const std::string& program) {
  const std::string saved = platform::GetEnvironmentVariable("DISPLAY");
  platform::SetEnvironmentVariable("DISPLAY", name_);
  // Some managers (xfwm4) keep their settings on a session bus.
  const bool bBus = !platform::FindProgramOnPath("dbus-run-session").empty();
  nWindowManager_ = bBus ? Spawn({"dbus-run-session", "--", program}) : Spawn({program});
  if (saved.empty()) {
    platform::UnsetEnvironmentVariable("DISPLAY");
  } else {
    platform::SetEnvironmentVariable("DISPLAY", saved);
  }
  // Ready once it names its check window on the root, as EWMH asks.
  Display* pDisplay = XOpenDisplay(name_.c_str());
  if (!pDisplay) return false;
  const Atom check = XInternAtom(pDisplay, "_NET_SUPPORTING_WM_CHECK", False);
  const bool bReady = WaitFor(
      [&] {
        Atom type;
        int format;
        unsigned long n = 0, after = 0;
        unsigned char* pData = nullptr;
        const bool bSet = XGetWindowProperty(pDisplay, DefaultRootWindow(pDisplay), check, 0, 1, False,
                                             AnyPropertyType, &type, &format, &n, &after, &pData) == Success &&
                          n == 1;
        if (pData) XFree(pData);
        return bSet;
      },
      15000);
  XCloseDisplay(pDisplay);
  // It settles its own windows and settings a moment after announcing.
  if (bReady) usleep(500000);
  return bReady;
}

bool CPrivateDisplay::StartCompositor() {
  if (nCompositor_ > 0) return true;
  nCompositor_ = Spawn({"xcompmgr", bShadows_ ? "-c" : "-n", "-d", name_});
  // The compositor is ready once it owns the compositing selection.
  Display* pDisplay = XOpenDisplay(name_.c_str());
  if (!pDisplay) return false;
  const Atom selection = XInternAtom(pDisplay, "_NET_WM_CM_S0", False);
  const bool bReady = WaitFor([&] { return XGetSelectionOwner(pDisplay, selection) != 0; }, 10000);
  XCloseDisplay(pDisplay);
  return bReady;
}

void CPrivateDisplay::StopCompositor() { EndChild(&nCompositor_); }

void CPrivateDisplay::Stop() {
  EndChild(&nCompositor_);
  EndChild(&nWindowManager_);
  EndChild(&nServer_);
  if (bExported_) platform::UnsetEnvironmentVariable("DISPLAY");
  bExported_ = false;
  name_.clear();
}

namespace {

class CProgramDisplayEnvironment : public ::testing::Environment {
 public:
  CProgramDisplayEnvironment(CPrivateDisplay* pDisplay, bool bOpenForPlatform)
      : pDisplay_(pDisplay), bOpenForPlatform_(bOpenForPlatform) {}
  void SetUp() override {
    ASSERT_TRUE(pDisplay_->Start()) << "Xvfb did not start";
    if (bOpenForPlatform_) {
      ASSERT_TRUE(platform::OpenDisplay());
    }
  }
  void TearDown() override { pDisplay_->Stop(); }

 private:
  CPrivateDisplay* pDisplay_;
  bool bOpenForPlatform_;
};

}  // namespace

CPrivateDisplay* AddProgramDisplay(bool bOpenForPlatform) {
  auto* pDisplay = new CPrivateDisplay;  // lives as long as the program
  ::testing::AddGlobalTestEnvironment(new CProgramDisplayEnvironment(pDisplay, bOpenForPlatform));
  return pDisplay;
}

CXProbe::CXProbe(const std::string& display) {
  pDisplay_ = XOpenDisplay(display.c_str());
  if (!pDisplay_) return;
  std::lock_guard<std::mutex> lock(g_probeLock);
  g_probes.push_back(D(pDisplay_));
  XErrorHandler previous = XSetErrorHandler(IgnoreErrors);
  if (previous != IgnoreErrors) g_previous = previous;
}

CXProbe::~CXProbe() {
  if (!pDisplay_) return;
  XCloseDisplay(D(pDisplay_));
  std::lock_guard<std::mutex> lock(g_probeLock);
  std::erase(g_probes, D(pDisplay_));
}

std::string CXProbe::StringProperty(unsigned long window, const char* name) {
  Display* d = D(pDisplay_);
  Atom type;
  int format;
  unsigned long n = 0, after = 0;
  unsigned char* pData = nullptr;
  std::string value;
  if (XGetWindowProperty(d, window, XInternAtom(d, name, False), 0, 4096, False, AnyPropertyType,
                         &type, &format, &n, &after, &pData) == Success &&
      pData && format == 8) {
    value.assign(reinterpret_cast<const char*>(pData), n);
  }
  if (pData) XFree(pData);
  return value;
}

std::vector<long> CXProbe::CardinalProperty(unsigned long window, const char* name) {
  Display* d = D(pDisplay_);
  Atom type;
  int format;
  unsigned long n = 0, after = 0;
  unsigned char* pData = nullptr;
  std::vector<long> values;
  if (XGetWindowProperty(d, window, XInternAtom(d, name, False), 0, 1 << 20, False, AnyPropertyType,
                         &type, &format, &n, &after, &pData) == Success &&
      pData && format == 32) {
    const auto* p = reinterpret_cast<const long*>(pData);
    values.assign(p, p + n);
  }
  if (pData) XFree(pData);
  return values;
}

std::vector<std::string> CXProbe::AtomListProperty(unsigned long window, const char* name) {
  std::vector<std::string> names;
  for (long atom : CardinalProperty(window, name)) {
    char* pName = XGetAtomName(D(pDisplay_), static_cast<Atom>(atom));
    if (pName) {
      names.emplace_back(pName);
      XFree(pName);
    }
  }
  return names;
}

namespace {

// Every window below `window` whose title is `title`, depth first in
// stacking order (bottom to top): top-level windows, those a window
// manager put into frames, and windows inside others.
void CollectTitled(CXProbe& probe, Display* d, Window window, const std::string& title,
                   std::vector<unsigned long>* pFound) {
  Window root, parent, *pChildren = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(d, window, &root, &parent, &pChildren, &n)) return;
  for (unsigned int i = 0; i < n; ++i) {
    std::string name = probe.StringProperty(pChildren[i], "_NET_WM_NAME");
    if (name.empty()) name = probe.StringProperty(pChildren[i], "WM_NAME");
    if (name == title) pFound->push_back(pChildren[i]);
    CollectTitled(probe, d, pChildren[i], title, pFound);
  }
  if (pChildren) XFree(pChildren);
}

}  // namespace

unsigned long CXProbe::FindWindow(const std::string& title, int nMilliseconds) {
  unsigned long found = 0;
  WaitFor(
      [&] {
        const std::vector<unsigned long> all = FindWindows(title);
        found = all.empty() ? 0 : all.front();
        return found != 0;
      },
      nMilliseconds);
  return found;
}

unsigned long CXProbe::Root() { return DefaultRootWindow(D(pDisplay_)); }

std::vector<unsigned long> CXProbe::FindWindows(const std::string& title) {
  Display* d = D(pDisplay_);
  std::vector<unsigned long> found;
  CollectTitled(*this, d, DefaultRootWindow(d), title, &found);
  return found;
}

unsigned long CXProbe::Parent(unsigned long window) {
  Display* d = D(pDisplay_);
  Window root, parent = 0, *pChildren = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(d, window, &root, &parent, &pChildren, &n)) return 0;
  if (pChildren) XFree(pChildren);
  return parent;
}

bool CXProbe::Exists(unsigned long window) {
  XWindowAttributes a;
  return XGetWindowAttributes(D(pDisplay_), window, &a) != 0;
}

bool CXProbe::IsShown(unsigned long window) {
  XWindowAttributes a;
  return XGetWindowAttributes(D(pDisplay_), window, &a) && a.map_state == IsViewable;
}

bool CXProbe::WaitViewable(unsigned long window, bool bViewable, int nMilliseconds) {
  return WaitFor([&] { return IsShown(window) == bViewable; }, nMilliseconds);
}

XRect CXProbe::Geometry(unsigned long window) {
  Display* d = D(pDisplay_);
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, window, &a)) return XRect{};
  int x = 0, y = 0;
  Window child;
  XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &x, &y, &child);
  return XRect{x, y, a.width, a.height};
}

int CXProbe::Depth(unsigned long window) {
  XWindowAttributes a;
  return XGetWindowAttributes(D(pDisplay_), window, &a) ? a.depth : 0;
}

bool CXProbe::WaitPosition(unsigned long window, int x, int y, int nMilliseconds) {
  return WaitFor(
      [&] {
        const XRect r = Geometry(window);
        return r.x == x && r.y == y;
      },
      nMilliseconds);
}

uint32_t CXProbe::ScreenPixel(int x, int y) { return ScreenPixels(XRect{x, y, 1, 1})[0]; }

std::vector<uint32_t> CXProbe::ScreenPixels(const XRect& rect) {
  Display* d = D(pDisplay_);
  std::vector<uint32_t> pixels;
  XImage* pImage = XGetImage(d, DefaultRootWindow(d), rect.x, rect.y, rect.width, rect.height,
                             AllPlanes, ZPixmap);
  if (!pImage) return std::vector<uint32_t>(static_cast<size_t>(rect.width) * rect.height, 0);
  // Any TrueColor root: each channel widened to 8 bits from its mask.
  const Visual* pVisual = DefaultVisual(d, DefaultScreen(d));
  const auto channel = [](unsigned long pixel, unsigned long mask) -> uint32_t {
    if (mask == 0) return 0;
    const int shift = __builtin_ctzl(mask);
    const int width = __builtin_popcountl(mask);
    const unsigned long value = (pixel & mask) >> shift;
    return static_cast<uint32_t>(width >= 8 ? value >> (width - 8) : value << (8 - width));
  };
  for (int y = 0; y < rect.height; ++y) {
    for (int x = 0; x < rect.width; ++x) {
      const unsigned long p = XGetPixel(pImage, x, y);
      pixels.push_back(channel(p, pVisual->red_mask) << 16 | channel(p, pVisual->green_mask) << 8 |
                       channel(p, pVisual->blue_mask));
    }
  }
  XDestroyImage(pImage);
  return pixels;
}

std::vector<XRect> CXProbe::Shape(unsigned long window, bool bInput) {
  int n = 0, order = 0;
  XRectangle* pRects =
      XShapeGetRectangles(D(pDisplay_), window, bInput ? ShapeInput : ShapeBounding, &n, &order);
  std::vector<XRect> shape;
  for (int i = 0; i < n; ++i) shape.push_back(XRect{pRects[i].x, pRects[i].y, pRects[i].width, pRects[i].height});
  if (pRects) XFree(pRects);
  return shape;
}

bool CXProbe::ShapeContains(const std::vector<XRect>& shape, int x, int y) {
  for (const XRect& r : shape) {
    if (r.Contains(x, y)) return true;
  }
  return false;
}

unsigned long CXProbe::TransientFor(unsigned long window) {
  Window owner = 0;
  return XGetTransientForHint(D(pDisplay_), window, &owner) ? owner : 0;
}

unsigned long CXProbe::WindowUnderPointer() {
  Display* d = D(pDisplay_);
  Window root, child = 0;
  int rx, ry, wx, wy;
  unsigned int mask;
  // The deepest window there: a window inside another (or in a window
  // manager's frame) is what gets the pointer's events.
  Window under = DefaultRootWindow(d), found = 0;
  while (XQueryPointer(d, under, &root, &child, &rx, &ry, &wx, &wy, &mask) && child != 0) {
    found = under = child;
  }
  return found;
}

void CXProbe::MovePointer(int x, int y) {
  XTestFakeMotionEvent(D(pDisplay_), 0, x, y, CurrentTime);
  Sync();
}

void CXProbe::Press(int nButton) {
  XTestFakeButtonEvent(D(pDisplay_), nButton, True, CurrentTime);
  Sync();
}

void CXProbe::Release(int nButton) {
  XTestFakeButtonEvent(D(pDisplay_), nButton, False, CurrentTime);
  Sync();
}

void CXProbe::Click(int x, int y) {
  MovePointer(x, y);
  Press();
  Release();
}

void CXProbe::Key(const char* szKeySym) {
  Display* d = D(pDisplay_);
  const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(szKeySym));
  XTestFakeKeyEvent(d, code, True, CurrentTime);
  XTestFakeKeyEvent(d, code, False, CurrentTime);
  Sync();
}

long CXProbe::InternAtom(const char* szName) {
  return static_cast<long>(XInternAtom(D(pDisplay_), szName, False));
}

void CXProbe::SendClientMessage(unsigned long window, const char* type, long l0, long l1, long l2) {
  Display* d = D(pDisplay_);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = window;
  e.xclient.message_type = XInternAtom(d, type, False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = l0;
  e.xclient.data.l[1] = l1;
  e.xclient.data.l[2] = l2;
  XSendEvent(d, window, False, NoEventMask, &e);
  Sync();
}

void CXProbe::DestroyWindow(unsigned long window) {
  XDestroyWindow(D(pDisplay_), window);
  Sync();
}

void CXProbe::PaintOver(unsigned long window, const XRect& rect, uint32_t rgb) {
  Display* d = D(pDisplay_);
  GC gc = XCreateGC(d, window, 0, nullptr);
  // Opaque in a 32-bit window too.
  XSetForeground(d, gc, 0xFF000000u | rgb);
  XFillRectangle(d, window, gc, rect.x, rect.y, rect.width, rect.height);
  XFreeGC(d, gc);
  Sync();
}

void CXProbe::SetRootColour(uint32_t rgb) {
  Display* d = D(pDisplay_);
  const Window root = DefaultRootWindow(d);
  XSetWindowBackground(d, root, rgb);
  XClearWindow(d, root);
  // A compositor paints the desktop from the root pixmap property.
  const Pixmap tile = XCreatePixmap(d, root, 1, 1, DefaultDepth(d, DefaultScreen(d)));
  GC gc = XCreateGC(d, tile, 0, nullptr);
  XSetForeground(d, gc, rgb);
  XFillRectangle(d, tile, gc, 0, 0, 1, 1);
  XFreeGC(d, gc);
  XChangeProperty(d, root, XInternAtom(d, "_XROOTPMAP_ID", False), XA_PIXMAP, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&tile), 1);
  Sync();
}

void CXProbe::Sync() { XSync(D(pDisplay_), False); }

}  // namespace tools
