// Test support for windows: a private X server (Xvfb) per test program,
// optionally with a compositing manager, and a second connection through
// which a test looks at windows and moves the pointer and keys as a person
// would (XTest). Windows are named by their X ids.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

struct XRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool Contains(int px, int py) const { return px >= x && px < x + width && py >= y && py < y + height; }
};

struct DisplayOptions {
  bool bCompositor = false;  // start xcompmgr too
  bool bShadows = false;     // the compositor draws shadows (xcompmgr -c)
  bool bArgbVisual = true;   // false: no Composite extension, no 32-bit visual
  bool bExport = true;       // set DISPLAY for this process and its children
  std::string screen = "1024x768x24";  // Xvfb's screen: width x height x depth
  // Monitors laid over the screen ("WxH+X+Y"), the first the primary one,
  // as xrandr --setmonitor makes them; none: one monitor, the screen.
  std::vector<std::string> monitors;
  // A window manager to start (a program on the PATH: "openbox", "i3"...);
  // Start waits until it has announced itself.
  std::string windowManager;
};

// A private Xvfb (1024×768×24 unless asked otherwise) on a display number the server picks
// (-displayfd), so test programs run in parallel. Stop ends the server and
// the compositor.
class CPrivateDisplay {
 public:
  CPrivateDisplay() = default;
  CPrivateDisplay(const CPrivateDisplay&) = delete;
  CPrivateDisplay& operator=(const CPrivateDisplay&) = delete;
  ~CPrivateDisplay() { Stop(); }
  bool Start(const DisplayOptions& options = DisplayOptions{});
  void Stop();
  const std::string& Name() const { return name_; }
  // Starts or ends the compositing manager on the running server.
  bool StartCompositor();
  void StopCompositor();
  bool StartWindowManager(const std::string& program);

 private:
  int nServer_ = -1;
  int nCompositor_ = -1;
  int nWindowManager_ = -1;
  bool bShadows_ = false;
  bool bExported_ = false;
  std::string name_;
};

// One private display for a whole test program, started before its first
// test and ended after its last (a process keeps one connection to its
// display). With bOpenForPlatform the platform layer opens it too, as the
// updater would. Call at namespace scope; the display lives as long as the
// program.
CPrivateDisplay* AddProgramDisplay(bool bOpenForPlatform);

// A connection of the test's own to the display.
class CXProbe {
 public:
  explicit CXProbe(const std::string& display);
  ~CXProbe();
  CXProbe(const CXProbe&) = delete;
  CXProbe& operator=(const CXProbe&) = delete;
  bool IsOpen() const { return pDisplay_ != nullptr; }

  // A mapped or unmapped window whose _NET_WM_NAME (else WM_NAME) is the
  // title, waiting up to nMilliseconds for it; 0 when none came.
  unsigned long FindWindow(const std::string& title, int nMilliseconds = 5000);
  unsigned long Root();
  // Every window of the title, top-level or not, bottom to top of the
  // stack.
  std::vector<unsigned long> FindWindows(const std::string& title);
  // The window's parent (a frame of the window manager's, the root, or the
  // window it lies inside).
  unsigned long Parent(unsigned long window);
  bool IsShown(unsigned long window);
  // Waits until the window's viewable state is bViewable.
  bool WaitViewable(unsigned long window, bool bViewable, int nMilliseconds = 5000);
  bool Exists(unsigned long window);
  // Position on the screen and size.
  XRect Geometry(unsigned long window);
  int Depth(unsigned long window);
  // Waits until the window's top-left corner is at (x, y).
  bool WaitPosition(unsigned long window, int x, int y, int nMilliseconds = 5000);

  // Screen pixels as 0xRRGGBB.
  uint32_t ScreenPixel(int x, int y);
  std::vector<uint32_t> ScreenPixels(const XRect& rect);
  // The window's shape (bounding, or input) as rectangles in window pixels.
  std::vector<XRect> Shape(unsigned long window, bool bInput);
  static bool ShapeContains(const std::vector<XRect>& shape, int x, int y);

  std::string StringProperty(unsigned long window, const char* name);
  std::vector<long> CardinalProperty(unsigned long window, const char* name);
  std::vector<std::string> AtomListProperty(unsigned long window, const char* name);
  unsigned long TransientFor(unsigned long window);
  // The deepest window the pointer is over (input shapes respected).
  unsigned long WindowUnderPointer();

  // Input as a person gives it.
  void MovePointer(int x, int y);
  void Press(int nButton = 1);
  void Release(int nButton = 1);
  void Click(int x, int y);
  void Key(const char* szKeySym);

  long InternAtom(const char* szName);
  // Sends a client message of the type to the window, with longs.
  void SendClientMessage(unsigned long window, const char* type, long l0, long l1, long l2);
  // Destroys a window from outside, as a hostile or careless client can.
  void DestroyWindow(unsigned long window);
  // Paints a rectangle of the window from outside (draws over its content).
  void PaintOver(unsigned long window, const XRect& rect, uint32_t rgb);
  // Sets the root window's colour (what shows through translucent pixels).
  void SetRootColour(uint32_t rgb);
  void Sync();

 private:
  void* pDisplay_ = nullptr;  // Display*
};

}  // namespace tools
