// The screen as the windows see it: the primary monitor's work area, on
// private X servers of several monitors.
#include <gtest/gtest.h>

#include "tools/x_display.h"
// Xlib last: its macros clash with GoogleTest's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "platform/posix/x11_screen.h"

namespace {

TEST(ScreenTest, WindowsCentreOnThePrimaryMonitorsWorkArea) {
  // Two monitors side by side, the primary on the right: the centre of
  // the whole screen is the seam, which no window may straddle.
  tools::CPrivateDisplay display;
  tools::DisplayOptions options;
  options.bExport = false;
  options.screen = "2048x768x24";
  options.monitors = {"1024x768+1024+0", "1024x768+0+0"};
  ASSERT_TRUE(display.Start(options));
  Display* pDisplay = XOpenDisplay(display.Name().c_str());
  ASSERT_NE(pDisplay, nullptr);
  platform::Rect area = platform::PrimaryWorkArea(pDisplay);
  EXPECT_EQ(area.left, 1024);
  EXPECT_EQ(area.top, 0);
  EXPECT_EQ(area.right, 2048);
  EXPECT_EQ(area.bottom, 768);

  // A panel along the bottom of the whole screen: the work area is cut to
  // the primary monitor.
  const long workArea[4] = {0, 0, 2048, 740};
  XChangeProperty(pDisplay, DefaultRootWindow(pDisplay), XInternAtom(pDisplay, "_NET_WORKAREA", False),
                  XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(workArea), 4);
  XSync(pDisplay, False);
  area = platform::PrimaryWorkArea(pDisplay);
  EXPECT_EQ(area.left, 1024);
  EXPECT_EQ(area.right, 2048);
  EXPECT_EQ(area.bottom, 740);
  XCloseDisplay(pDisplay);
}

TEST(ScreenTest, OneMonitorIsTheWholeScreen) {
  tools::CPrivateDisplay display;
  tools::DisplayOptions options;
  options.bExport = false;
  ASSERT_TRUE(display.Start(options));
  Display* pDisplay = XOpenDisplay(display.Name().c_str());
  ASSERT_NE(pDisplay, nullptr);
  const platform::Rect area = platform::PrimaryWorkArea(pDisplay);
  EXPECT_EQ(area.left, 0);
  EXPECT_EQ(area.top, 0);
  EXPECT_EQ(area.right, 1024);
  EXPECT_EQ(area.bottom, 768);
  XCloseDisplay(pDisplay);
}

}  // namespace
