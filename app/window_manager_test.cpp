// The updater's window under the window managers and compositors players
// have: each case starts a private X server with the manager (and a
// compositor that draws shadows), runs the real executable against a
// throttled update server and looks at the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"
#include "tools/http_script.h"
#include "tools/script_server.h"
#include "tools/test_support.h"
#include "tools/x_display.h"
#include "ui/bar_layout.h"

namespace {

using tools::CScriptConnection;
using tools::CScriptServer;
using tools::XRect;

constexpr int kScreenWidth = 1024, kScreenHeight = 768;
constexpr int kSkinWidth = 396, kSkinHeight = 234;
constexpr XRect kMainFillArea{kMainGroove.x, kMainGroove.y, kMainGroove.w, kMainGroove.h};

struct Desktop {
  const char* szManager;
  bool bShadows;  // a compositor that draws shadows runs too
};

std::string Describe(const ::testing::TestParamInfo<Desktop>& info) {
  return std::string(info.param.szManager) + (info.param.bShadows ? "_with_shadows" : "");
}

class WindowManagerTest : public ::testing::TestWithParam<Desktop> {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');
    folder = tools::TestFolder() + "/wm-" + name;
    platform::CreateDirectories(folder + "/updater");
    platform::CreateDirectories(folder + "/home/.config");
    platform::CreateDirectories(folder + "/src/data");
    exe = folder + "/updater/qarnauto";
    tools::WriteWholeFile(exe, tools::ReadWholeFile(QARNAUTO_EXE));
    platform::MarkFile(exe, platform::FileMark::kExecutable);
    platform::SetEnvironmentVariable("HOME", folder + "/home");
    platform::SetEnvironmentVariable("XDG_CONFIG_HOME", folder + "/home/.config");
  }
  void TearDown() override {
    if (pid != platform::kInvalidProcess) {
      platform::TerminateProcess(pid);
      platform::WaitProcess(pid);
    }
    platform::SetEnvironmentVariable("HOME", tools::TestFolder() + "/home");
    platform::SetEnvironmentVariable("XDG_CONFIG_HOME", tools::TestFolder() + "/home/.config");
  }
  std::string MakePackage() {
    tools::WriteWholeFile(folder + "/src/play.exe", "#!/bin/sh\n");
    tools::WriteWholeFile(folder + "/src/data/big.bin", tools::PatternBytes(2400000, 7));
    const platform::ProcessId maker = platform::StartProcess(
        "/usr/bin/7zz", {"7zz", "a", "-bso0", "-bsp0", "-mx0", folder + "/qarn.7z", "."}, folder + "/src");
    EXPECT_EQ(platform::WaitProcess(maker), 0);
    return tools::ReadWholeFile(folder + "/qarn.7z");
  }
  // Columns of the main bar's fill row lit on the screen, for a skin at `at`.
  static int LitColumns(tools::CXProbe& probe, const XRect& at) {
    const std::vector<uint32_t> row = probe.ScreenPixels(
        XRect{at.x + kMainFillArea.x, at.y + kMainFillArea.y + kMainFillArea.height / 2,
              kMainFillArea.width, 1});
    return static_cast<int>(std::count_if(row.begin(), row.end(), [](uint32_t p) {
      return ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) > 240;  // the groove is nearly black
    }));
  }
  // The window's place once it has stood still for half a second.
  static XRect Settled(tools::CXProbe& probe, unsigned long window) {
    XRect last = probe.Geometry(window);
    int nStill = 0;
    for (int i = 0; i < 60 && nStill < 5; ++i) {
      platform::Sleep(100);
      const XRect now = probe.Geometry(window);
      nStill = now.x == last.x && now.y == last.y ? nStill + 1 : 0;
      last = now;
    }
    return last;
  }
  // Waits until the lit columns at `at` exceed `nAbove`; the count seen.
  static int WaitLit(tools::CXProbe& probe, const XRect& at, int nAbove, uint32_t dwMilliseconds) {
    const uint32_t dwStart = platform::GetTickCount();
    int n = LitColumns(probe, at);
    while (n <= nAbove && platform::GetTickCount() - dwStart < dwMilliseconds) {
      platform::Sleep(50);
      n = LitColumns(probe, at);
    }
    return n;
  }
  std::string folder, exe;
  platform::ProcessId pid = platform::kInvalidProcess;
};

TEST_P(WindowManagerTest, TheSkinCarriesItsBarsWhereverItIsMoved) {
  const Desktop desktop = GetParam();
  if (platform::FindProgramOnPath(desktop.szManager).empty()) {
    GTEST_SKIP() << desktop.szManager << " is not installed";
  }
  tools::CPrivateDisplay display;
  tools::DisplayOptions options;
  options.windowManager = desktop.szManager;
  options.bCompositor = desktop.bShadows;
  options.bShadows = desktop.bShadows;
  ASSERT_TRUE(display.Start(options)) << desktop.szManager << " did not start";
  tools::CXProbe probe(display.Name());
  ASSERT_TRUE(probe.IsOpen());

  const std::string package = MakePackage();
  CScriptServer server([&](CScriptConnection& c) { tools::ServeContent(c, package, 40000); });
  pid = platform::StartProcess(exe, {exe, server.Url("/qarn") + "$EN$Desk Game"}, "");

  const unsigned long skin = probe.FindWindow("Install", 20000);
  ASSERT_NE(skin, 0u);
  ASSERT_TRUE(probe.WaitViewable(skin, true, 10000));
  const unsigned long dialog = probe.FindWindow("Quillmarch", 5000);
  ASSERT_NE(dialog, 0u);
  EXPECT_EQ(probe.Parent(dialog), skin) << "the bars' dialog is not inside the skin";
  // Nothing of ours stands on its own beside the skin.
  EXPECT_EQ(probe.FindWindows("Quillmarch").size(), 1u);

  // Fixed size, whole and on the screen, wherever the manager put it (once
  // it has done so: some frame the window a moment after it shows).
  XRect at = Settled(probe, skin);
  EXPECT_EQ(at.width, kSkinWidth);
  EXPECT_EQ(at.height, kSkinHeight);
  EXPECT_GE(at.x, 0);
  EXPECT_GE(at.y, 0);
  EXPECT_LE(at.x + at.width, kScreenWidth);
  EXPECT_LE(at.y + at.height, kScreenHeight);
  EXPECT_EQ(probe.Geometry(dialog).x, at.x);
  EXPECT_EQ(probe.Geometry(dialog).y, at.y);

  // The main bar fills its groove on the screen, and grows.
  const int nFirst = WaitLit(probe, at, 0, 30000);
  ASSERT_GT(nFirst, 0) << "the main bar never showed in its groove";
  const int nLater = WaitLit(probe, at, nFirst + 5, 15000);
  EXPECT_GT(nLater, nFirst) << "the main bar did not grow";

  // A drag of the skin by (+60, +40) takes the bars along.
  const int nGrabX = at.x + 200, nGrabY = at.y + 40;
  probe.MovePointer(nGrabX, nGrabY);
  platform::Sleep(100);
  probe.Press();
  for (int i = 1; i <= 10; ++i) {
    platform::Sleep(30);
    probe.MovePointer(nGrabX + 6 * i, nGrabY + 4 * i);
  }
  platform::Sleep(100);
  probe.Release();
  // Where the drag leaves it: a manager that moves the window itself may
  // take the pointer over a few motions late, or settle its frame after
  // the first look (fluxbox is off by up to 7 pixels), so the skin must
  // have followed about that far, and the bars must be wherever it is.
  const XRect before = at;
  at = Settled(probe, skin);
  EXPECT_GE(at.x - before.x, 40) << "the skin is at " << at.x << "," << at.y;
  EXPECT_LE(at.x - before.x, 80) << "the skin is at " << at.x << "," << at.y;
  EXPECT_GE(at.y - before.y, 26) << "the skin is at " << at.x << "," << at.y;
  EXPECT_LE(at.y - before.y, 54) << "the skin is at " << at.x << "," << at.y;
  EXPECT_TRUE(probe.WaitPosition(dialog, at.x, at.y, 5000));
  const int nMoved = WaitLit(probe, at, 0, 5000);
  EXPECT_GT(nMoved, 0) << "the bar was left behind";
  EXPECT_GT(WaitLit(probe, at, nMoved + 5, 15000), nMoved) << "the bar stopped growing after the drag";
}

// The skin, the bar and the retry prompt on a 16-bit display show the
// colours they show on a 24-bit one, give or take what 5 and 6 bits a
// channel can hold.
TEST_F(WindowManagerTest, SixteenBitDisplaysShowTheTrueColours) {
  const std::string package = MakePackage();
  std::vector<uint32_t> seen[2];
  int nDepth = 0;
  for (const char* screen : {"1024x768x24", "1024x768x16"}) {
    tools::CPrivateDisplay display;
    tools::DisplayOptions options;
    options.screen = screen;
    options.bArgbVisual = false;  // a 16-bit server has no 32-bit visual either
    ASSERT_TRUE(display.Start(options)) << screen;
    tools::CXProbe probe(display.Name());
    CScriptServer server([&](CScriptConnection& c) { tools::ServeContent(c, package, 40000); });
    platform::DeleteFile(folder + "/home/.config/qarnauto/registry");
    pid = platform::StartProcess(exe, {exe, server.Url("/qarn") + "$EN$Deep Game"}, "");
    const unsigned long skin = probe.FindWindow("Install", 20000);
    ASSERT_NE(skin, 0u) << screen;
    ASSERT_TRUE(probe.WaitViewable(skin, true, 10000));
    const XRect at = probe.Geometry(skin);
    ASSERT_GT(WaitLit(probe, at, 20, 30000), 20) << screen;
    // The skin's art, and the bar's fill at its start.
    for (const auto& [x, y] :
         {std::pair{60, 40}, std::pair{200, 90}, std::pair{300, 150},
          std::pair{kMainFillArea.x + 3, kMainFillArea.y + kMainFillArea.height / 2}}) {
      seen[nDepth].push_back(probe.ScreenPixels(XRect{at.x + x, at.y + y, 1, 1})[0]);
    }
    platform::TerminateProcess(pid);
    platform::WaitProcess(pid);
    // The retry prompt after a download nothing answers.
    pid = platform::StartProcess(
        exe, {exe, "http://127.0.0.1:" + std::to_string(tools::RefusingPort()) + "/qarn$EN$Deep Game"}, "");
    const unsigned long prompt = probe.FindWindow("tips", 30000);
    ASSERT_NE(prompt, 0u) << screen;
    ASSERT_TRUE(probe.WaitViewable(prompt, true, 10000));
    platform::Sleep(300);
    const XRect box = probe.Geometry(prompt);
    for (const auto& [x, y] : {std::pair{10, 10}, std::pair{30, 70}, std::pair{box.width - 60, box.height - 35},
                               std::pair{box.width - 150, box.height - 35}}) {
      seen[nDepth].push_back(probe.ScreenPixels(XRect{box.x + x, box.y + y, 1, 1})[0]);
    }
    platform::TerminateProcess(pid);
    platform::WaitProcess(pid);
    pid = platform::kInvalidProcess;
    ++nDepth;
  }
  ASSERT_EQ(seen[0].size(), seen[1].size());
  for (size_t i = 0; i < seen[0].size(); ++i) {
    for (int shift : {16, 8, 0}) {
      const int a = (seen[0][i] >> shift) & 0xFF, b = (seen[1][i] >> shift) & 0xFF;
      EXPECT_NEAR(a, b, 12) << "point " << i << ": 0x" << std::hex << seen[0][i] << " at 24 bits, 0x"
                            << seen[1][i] << " at 16";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Desktops, WindowManagerTest,
                         ::testing::Values(Desktop{"openbox", false}, Desktop{"openbox", true},
                                           Desktop{"xfwm4", false}, Desktop{"xfwm4", true},
                                           Desktop{"fluxbox", false}, Desktop{"fluxbox", true},
                                           Desktop{"icewm", false}, Desktop{"icewm", true},
                                           Desktop{"i3", false}, Desktop{"i3", true}),
                         Describe);

}  // namespace
