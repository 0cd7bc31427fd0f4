// The Windows build's window as a player on Windows sees it, here under
// Wine on a private X server with a compositor: qarnauto.exe updates from
// an nginx on 127.0.0.1 whose responses are throttled, and the test looks
// at the screen and answers the system's prompts with the keyboard. The
// programs come from the Windows build (scripts/build_windows.sh); the
// cases share the Wine prefix that scripts/wine_run.sh keeps, one at a time
// (the updater is a single instance per Wine server).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/button_pixels.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"
#include "tools/http_script.h"
#include "tools/nginx_server.h"
#include "tools/script_server.h"
#include "tools/test_support.h"
#include "tools/wine_support.h"
#include "tools/x_display.h"
#include "ui/bar_layout.h"

namespace {

using tools::XRect;

constexpr int kLeft = 314, kTop = 267;  // the skin centred on 1024×768
constexpr XRect kMainFillArea{kMainGroove.x, kMainGroove.y, kMainGroove.w, kMainGroove.h};
constexpr XRect kSecondFillArea{kSecondGroove.x, kSecondGroove.y, kSecondGroove.w, kSecondGroove.h};
const std::string kWineRun = std::string(SOURCE_DIR) + "/scripts/wine_run.sh";
const std::string kWindowsBuild = WINDOWS_BUILD;

// The prefix wine_run.sh runs in: the test command's, else one kept for
// these tests between runs (making one takes half a minute).
std::string WinePrefix() {
  std::string prefix = platform::GetEnvironmentVariable("QARNAUTO_WINEPREFIX");
  if (prefix.empty()) {
    const std::string tmp = platform::GetEnvironmentVariable("TMPDIR");
    prefix = (tmp.empty() ? "/tmp" : tmp) + "/qarnauto-wine-window-tests";
    platform::SetEnvironmentVariable("QARNAUTO_WINEPREFIX", prefix);
  }
  return prefix;
}

class WineWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::FindProgramOnPath("wine").empty()) GTEST_SKIP() << "wine is not installed";
    if (!platform::FileExists(kWindowsBuild + "/qarnauto.exe")) {
      GTEST_SKIP() << "no Windows build in " << kWindowsBuild << " (scripts/build_windows.sh)";
    }
    folder = tools::TestFolder() + "/wine-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectories(folder + "/updater");
    platform::CreateDirectories(folder + "/www/qarn");
    tools::WriteWholeFile(folder + "/updater/qarnauto.exe",
                          tools::ReadWholeFile(kWindowsBuild + "/qarnauto.exe"));
    // Its own folder on drive C: of the prefix, named for this run.
    suffix = "WW" + std::to_string(platform::GetCurrentProcessId());
    platform::SetEnvironmentVariable("QARNAUTO_DRIVE_SCOPE", "C:\\");
    // The updater sees the processes of this Wine server alone, which are
    // the test's; the scope the test programs set names a Linux parent that
    // no Windows process has.
    platform::UnsetEnvironmentVariable(platform::kProcessScopeVariable);
    // Wine's desktop belongs to the display its server started with: each
    // case's private display gets a server of its own.
    StopWineServer();
    tools::DisplayOptions options;
    options.bCompositor = true;
    ASSERT_TRUE(display.Start(options));
    probe = std::make_unique<tools::CXProbe>(display.Name());
  }
  void TearDown() override {
    for (platform::ProcessId* p : {&pid, &client}) {
      if (*p == platform::kInvalidProcess) continue;
      platform::TerminateProcess(*p);
      platform::WaitProcess(*p);
    }
    if (!suffix.empty()) platform::RemoveTree(InstallFolder());
    StopWineServer();
  }
  static void StopWineServer() {
    platform::SetEnvironmentVariable("WINEPREFIX", WinePrefix());
    platform::WaitProcess(platform::StartProcess("/usr/bin/wineserver", {"wineserver", "-k"}, ""));
  }
  // A package of a Windows play.exe and many small files, stored, so the
  // throttled download and the installation both take a moment.
  void MakePackage() {
    const std::string src = folder + "/src";
    platform::CreateDirectories(src + "/data");
    tools::WriteWholeFile(src + "/play.exe", tools::ReadWholeFile(WIN_CLIENT));
    for (int i = 0; i < 300; ++i) {
      tools::WriteWholeFile(src + "/data/f" + std::to_string(i) + ".bin",
                            tools::PatternBytes(6000, static_cast<uint32_t>(i + 3)));
    }
    const platform::ProcessId maker = platform::StartProcess(
        "/usr/bin/7zz", {"7zz", "a", "-bso0", "-bsp0", "-mx0", folder + "/www/qarn/qarn.7z", "."},
        src);
    ASSERT_EQ(platform::WaitProcess(maker), 0);
  }
  // Runs qarnauto.exe under Wine with the argument; its output to a file.
  void Start(const std::string& argument) {
    platform::CFile out(platform::OpenFile(folder + "/output", platform::kFileWrite,
                                           platform::FileDisposition::kCreateAlways));
    pid = platform::StartProcessWithStdio(kWineRun, {kWineRun, "qarnauto.exe", argument},
                                          folder + "/updater", {{}, out.Get(), out.Get()});
    out.Close();
  }
  // The exit code, or -1 when it has not ended within the time.
  int WaitEnd(uint32_t dwMilliseconds) {
    const uint32_t dwStart = platform::GetTickCount();
    int nCode = -1;
    while (platform::PollProcess(pid, &nCode)) {
      if (platform::GetTickCount() - dwStart > dwMilliseconds) return -1;
      platform::Sleep(50);
    }
    pid = platform::kInvalidProcess;
    return nCode;
  }
  std::string Notes() {
    return "output: " + tools::ReadWholeFile(folder + "/output") +
           "\nrun log: " + tools::ReadWholeFile(folder + "/updater/qarnAutoLog.log");
  }
  std::string InstallFolder() {
    // Wine keeps the case the prefix was made with.
    return WinePrefix() + "/drive_c/Program Files (x86)/Talvora/" + suffix;
  }
  // Columns of a bar's fill row lit on the screen, for a skin at (x, y).
  int LitColumns(const XRect& fill, int x = kLeft, int y = kTop) {
    const std::vector<uint32_t> row =
        probe->ScreenPixels(XRect{x + fill.x, y + fill.y + fill.height / 2, fill.width, 1});
    return static_cast<int>(std::count_if(row.begin(), row.end(), [](uint32_t p) {
      return ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) >
             240;  // the grooves are nearly black
    }));
  }
  // Columns of the main bar's fill row that show its gold (red well above
  // blue), for a skin at (x, y).
  int GoldColumns(const XRect& fill, int x = kLeft, int y = kTop) {
    const std::vector<uint32_t> row =
        probe->ScreenPixels(XRect{x + fill.x, y + fill.y + fill.height / 2, fill.width, 1});
    return static_cast<int>(std::count_if(row.begin(), row.end(), [](uint32_t p) {
      return static_cast<int>((p >> 16) & 0xFF) - static_cast<int>(p & 0xFF) > 60;
    }));
  }
  // A shown window of the title. Wine may make a window's X window again
  // (for another visual) after it is first seen, so it is looked for anew.
  unsigned long ShownWindow(const char* szTitle, uint32_t dwMilliseconds) {
    const uint32_t dwStart = platform::GetTickCount();
    do {
      for (unsigned long window : probe->FindWindows(szTitle)) {
        if (probe->IsShown(window)) return window;
      }
      platform::Sleep(50);
    } while (platform::GetTickCount() - dwStart < dwMilliseconds);
    return 0;
  }
  // A system prompt's window, shown and ready for keys.
  unsigned long FindPrompt(const char* szCaption, uint32_t dwMilliseconds) {
    const unsigned long window = ShownWindow(szCaption, dwMilliseconds);
    platform::Sleep(500);
    return window;
  }

  tools::CPrivateDisplay display;
  std::unique_ptr<tools::CXProbe> probe;
  std::string folder, suffix;
  platform::ProcessId pid = platform::kInvalidProcess;
  platform::ProcessId client = platform::kInvalidProcess;
};

TEST_F(WineWindowTest, TheSkinShowsCentredItsBarsGrowThenTheClientStarts) {
  MakePackage();
  // Slow enough that the first look comes early in the download, however
  // long Wine takes to show the window.
  tools::CNginxServer nginx(folder + "/www", "limit_rate 25k;");
  ASSERT_TRUE(nginx.Started());
  Start(nginx.Url("/qarn") + "$" + suffix + "$Wine Window Game");

  const unsigned long skin = ShownWindow("Install", 90000);
  ASSERT_NE(skin, 0u) << Notes();
  const unsigned long dialog = ShownWindow("Quillmarch", 10000);
  ASSERT_NE(dialog, 0u);
  const XRect at = probe->Geometry(skin);
  EXPECT_EQ(at.x, kLeft);
  EXPECT_EQ(at.y, kTop);
  EXPECT_EQ(at.width, 396);
  EXPECT_EQ(at.height, 234);
  EXPECT_TRUE(probe->WaitPosition(dialog, kLeft, kTop));

  // The main bar shows in its groove, above the skin, and grows; the
  // second shows while the package is installed.
  int nFirst = -1, nLater = -1, nSecondSeen = 0;
  std::vector<int> samples;  // the first values seen, for the failure's message
  const uint32_t dwStart = platform::GetTickCount();
  int nCode = -1;
  while (platform::PollProcess(pid, &nCode) && platform::GetTickCount() - dwStart < 120000) {
    // Only the bar's own gold counts, and the first look must find it part
    // filled: under Wine a window being mapped or redrawn may show a
    // bright row across the whole groove for a moment, which is no bar.
    const int nMain = GoldColumns(kMainFillArea);
    if (nFirst < 0 && nMain > 0 && nMain < kMainFillArea.width - 20) {
      nFirst = nMain;
    } else if (nFirst >= 0 && nLater < 0 && nMain > nFirst + 20) {
      nLater = nMain;
    }
    if (samples.size() < 40 && (samples.empty() || samples.back() != nMain)) samples.push_back(nMain);
    nSecondSeen = std::max(nSecondSeen, LitColumns(kSecondFillArea));
    platform::Sleep(5);
  }
  pid = platform::kInvalidProcess;
  std::string looks;
  for (int n : samples) looks += std::to_string(n) + " ";
  EXPECT_GT(nFirst, 0) << "the main bar never showed part filled; first looks: " << looks;
  EXPECT_GT(nLater, nFirst) << "the main bar did not grow; first looks: " << looks;
  EXPECT_GT(nSecondSeen, 0) << "the second bar never showed while installing";
  EXPECT_EQ(nCode, 0) << Notes();
  EXPECT_EQ(tools::WaitForFile(InstallFolder() + "/started.txt", 20000),
            "blacknull C:\\program files (x86)\\Talvora\\" + suffix + "\n");
}

TEST_F(WineWindowTest, AFailedDownloadAsksInTheSystemPromptAndEscapeEndsTheRun) {
  Start("http://127.0.0.1:" + std::to_string(tools::RefusingPort()) + "/qarn$" + suffix +
        "$Wine Tips Game");
  const unsigned long prompt = FindPrompt("tips", 120000);
  ASSERT_NE(prompt, 0u) << Notes();
  // A standard message box, in front of the skin.
  const XRect box = probe->Geometry(prompt);
  EXPECT_GT(box.width, 100);
  EXPECT_GT(box.height, 60);
  probe->Key("Escape");
  EXPECT_EQ(WaitEnd(30000), 0) << Notes();
  EXPECT_FALSE(platform::FileExists(InstallFolder() + "/started.txt"));
}

// Over HTTPS: the prefix trusts a test CA (its own root store, nothing of
// the machine's), the update installs and starts the client; a certificate
// for another name brings the retry prompt within seconds, its reason in
// the run log, and nothing is installed.
TEST_F(WineWindowTest, OverHttpsTheUpdateInstallsAndAWrongNameBringsThePrompt) {
  if (!tools::NginxAvailable()) GTEST_SKIP() << "nginx is not installed";
  MakePackage();
  const std::string certs = folder + "/certs";
  ASSERT_EQ(platform::WaitProcess(platform::StartProcess(
                "/bin/sh", {"/bin/sh", std::string(SOURCE_DIR) + "/tools/make_test_certs.sh", certs}, "")),
            0);
  ASSERT_EQ(platform::WaitProcess(platform::StartProcess(
                kWineRun, {kWineRun, kWindowsBuild + "/win_trust.exe", tools::WindowsPathOf(certs + "/ca.pem")},
                folder)),
            0);
  const auto serving = [&](const std::string& name) {
    return "ssl_certificate " + certs + "/" + name + ".pem; ssl_certificate_key " + certs + "/" + name + ".key;";
  };
  {
    tools::CNginxServer nginx(folder + "/www", serving("wrongname"), true);
    ASSERT_TRUE(nginx.Started());
    const uint32_t dwStart = platform::GetTickCount();
    Start(nginx.UrlAt("localhost", "/qarn") + "$" + suffix + "$Wine Https Game");
    ASSERT_NE(FindPrompt("tips", 60000), 0u) << Notes();
    std::printf("wrong name: the prompt after %u ms\n", static_cast<unsigned>(platform::GetTickCount() - dwStart));
    EXPECT_NE(Notes().find("it is not for this host"), std::string::npos) << Notes();
    probe->Key("Escape");
    EXPECT_EQ(WaitEnd(30000), 0) << Notes();
    EXPECT_FALSE(platform::FileExists(InstallFolder() + "/started.txt"));
  }
  tools::CNginxServer nginx(folder + "/www", serving("good"), true);
  ASSERT_TRUE(nginx.Started());
  Start(nginx.UrlAt("localhost", "/qarn") + "$" + suffix + "$Wine Https Game");
  EXPECT_EQ(WaitEnd(120000), 0) << Notes();
  EXPECT_EQ(tools::WaitForFile(InstallFolder() + "/started.txt", 20000),
            "blacknull C:\\program files (x86)\\Talvora\\" + suffix + "\n")
      << Notes();
  EXPECT_TRUE(tools::ReadWholeFile(InstallFolder() + "/data/f7.bin") == tools::PatternBytes(6000, 10));
}

TEST_F(WineWindowTest, ARunningClientIsClosedAfterTheUpdatingPromptThenTheUpdateGoesOn) {
  MakePackage();
  // The game's running client: a Windows program named qarn.exe.
  tools::WriteWholeFile(folder + "/qarn.exe", tools::ReadWholeFile(WIN_CLIENT));
  client = platform::StartProcess(kWineRun, {kWineRun, "qarn.exe", "wait"}, folder);
  ASSERT_FALSE(tools::WaitForFile(folder + "/started.txt", 60000).empty())
      << "the client did not start";
  tools::CNginxServer nginx(folder + "/www", "");
  ASSERT_TRUE(nginx.Started());
  Start(nginx.Url("/qarn") + "$" + suffix + "$Wine Client Game");

  const unsigned long prompt = FindPrompt("tips", 90000);
  ASSERT_NE(prompt, 0u) << Notes();
  int nCode = -1;
  EXPECT_TRUE(platform::PollProcess(client, &nCode)) << "the client ended before the answer";
  probe->Key("Return");
  // OK closes the client, and the update installs and starts the new one.
  const uint32_t dwStart = platform::GetTickCount();
  bool bClosed = false;
  while (!(bClosed = !platform::PollProcess(client, &nCode)) &&
         platform::GetTickCount() - dwStart < 30000) {
    platform::Sleep(50);
  }
  EXPECT_TRUE(bClosed) << "the running client was not closed";
  if (bClosed) client = platform::kInvalidProcess;
  EXPECT_EQ(WaitEnd(120000), 0) << Notes();
  EXPECT_EQ(tools::WaitForFile(InstallFolder() + "/started.txt", 20000),
            "blacknull C:\\program files (x86)\\Talvora\\" + suffix + "\n");
}

TEST_F(WineWindowTest, TheSkinIsTranslucentAndADragTakesTheBarsAlong) {
  MakePackage();
  tools::CNginxServer nginx(folder + "/www", "limit_rate 20k;");
  ASSERT_TRUE(nginx.Started());
  Start(nginx.Url("/qarn") + "$" + suffix + "$Wine Drag Game");
  const unsigned long skin = ShownWindow("Install", 90000);
  ASSERT_NE(skin, 0u) << Notes();
  const unsigned long dialog = ShownWindow("Quillmarch", 10000);
  ASSERT_NE(dialog, 0u);
  // Icon 128 on the skin, as the window manager gets it: 48 and 16 pixels.
  const std::vector<long> icon = probe->CardinalProperty(skin, "_NET_WM_ICON");
  bool b48 = false, b16 = false;
  for (size_t i = 0; i + 1 < icon.size(); i += 2 + static_cast<size_t>(icon[i] * icon[i + 1])) {
    b48 = b48 || (icon[i] == 48 && icon[i + 1] == 48);
    b16 = b16 || (icon[i] == 16 && icon[i + 1] == 16);
  }
  EXPECT_TRUE(b48 && b16) << "the window's icon is not icon 128";

  // The skin's alpha: its corner shows the desktop, its frame the desktop
  // blended through it (a compositor runs).
  const uint32_t root = 0x204060;
  probe->SetRootColour(root);
  CGdiPlusPngResource png;
  ASSERT_TRUE(png.Load(1036, "PNG"));
  auto pSkin = platform::CreateCanvas(396, 234);
  png.Draw(*pSkin, platform::Rect{0, 0, 396, 234});
  const uint32_t frame = pSkin->Pixel(3, 117);
  ASSERT_EQ(frame >> 24, 128u);
  ASSERT_EQ(pSkin->Pixel(0, 0) >> 24, 0u);
  uint32_t want = 0;
  for (int shift : {16, 8, 0}) {
    const uint32_t c = ((frame >> shift) & 0xFF) + (((root >> shift) & 0xFF) * 127 + 127) / 255;
    want |= std::min<uint32_t>(c, 255) << shift;
  }
  auto near = [](uint32_t a, uint32_t b) {
    for (int shift : {16, 8, 0}) {
      if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) >
          2)
        return false;
    }
    return true;
  };
  uint32_t got = 0;
  for (int i = 0; i < 100 && !near(got = probe->ScreenPixel(kLeft + 3, kTop + 117), want); ++i)
    platform::Sleep(20);
  EXPECT_TRUE(near(got, want)) << std::hex << "got " << got << " want " << want;
  EXPECT_EQ(probe->ScreenPixel(kLeft, kTop), root);

  probe->MovePointer(kLeft + 200, kTop + 40);
  platform::Sleep(200);
  probe->Press();
  for (int i = 1; i <= 10; ++i) {
    platform::Sleep(40);
    probe->MovePointer(kLeft + 200 + 6 * i, kTop + 40 + 4 * i);
  }
  platform::Sleep(200);
  probe->Release();
  EXPECT_TRUE(probe->WaitPosition(skin, kLeft + 60, kTop + 40, 5000))
      << "the skin is at " << probe->Geometry(skin).x << "," << probe->Geometry(skin).y;
  EXPECT_TRUE(probe->WaitPosition(dialog, kLeft + 60, kTop + 40, 5000)) << "the bars stayed behind";
  // The bar, now at the skin's new place, still grows.
  auto lit = [&] { return LitColumns(kMainFillArea, kLeft + 60, kTop + 40); };
  int nFirst = 0;
  const uint32_t dwStart = platform::GetTickCount();
  while ((nFirst = lit()) == 0 && platform::GetTickCount() - dwStart < 30000) platform::Sleep(50);
  ASSERT_GT(nFirst, 0) << "no bar at the skin's new place";
  int nLater = nFirst;
  while ((nLater = lit()) <= nFirst + 3 && platform::GetTickCount() - dwStart < 60000)
    platform::Sleep(50);
  EXPECT_GT(nLater, nFirst + 3) << "the bar stopped growing after the drag";
}

// Other programs reach the skin by the messages 1468 to 1470, sent by a
// Windows program as the game's own programs would.
TEST_F(WineWindowTest, OtherProgramsMinimiseTheSkinAndBringItBack) {
  MakePackage();
  tools::CNginxServer nginx(folder + "/www", "limit_rate 5k;");
  ASSERT_TRUE(nginx.Started());
  Start(nginx.Url("/qarn") + "$" + suffix + "$Wine Message Game");
  ASSERT_NE(ShownWindow("Install", 90000), 0u) << Notes();
  const unsigned long dialog = ShownWindow("Quillmarch", 10000);
  ASSERT_NE(dialog, 0u);
  auto send = [&](const char* szMessage, const char* szWParam) {
    const std::string out = folder + "/sent";
    platform::CFile file(
        platform::OpenFile(out, platform::kFileWrite, platform::FileDisposition::kCreateAlways));
    const platform::ProcessId sender = platform::StartProcessWithStdio(
        kWineRun, {kWineRun, WIN_CLIENT, "send", "Install", szMessage, szWParam}, folder,
        {{}, file.Get(), {}});
    file.Close();
    platform::WaitProcess(sender);
    return tools::ReadWholeFile(out);
  };
  // Minimised, the skin takes its owned dialog with it (Wine without a
  // window manager cannot iconify the skin itself); brought to the front,
  // both are back where they were.
  EXPECT_EQ(send("1469", "0"), "1\r\n");
  EXPECT_TRUE(probe->WaitViewable(dialog, false, 10000)) << "the bars stayed after a minimise";
  EXPECT_EQ(send("1470", "0"), "1\r\n");
  const unsigned long back = ShownWindow("Quillmarch", 10000);
  ASSERT_NE(back, 0u) << "the bars did not come back";
  EXPECT_TRUE(probe->WaitPosition(back, kLeft, kTop));
  // A render that asks for nothing is answered all the same.
  EXPECT_EQ(send("1468", "1"), "1\r\n");
  EXPECT_EQ(send("1468", "0"), "1\r\n");
}

TEST_F(WineWindowTest, TheSkinnedBoxShowsItsPicturesAndItsButtonsAnswer) {
  const std::string probeExe = kWindowsBuild + "/window_probe.exe";
  ASSERT_TRUE(platform::FileExists(probeExe));
  platform::CFile out(platform::OpenFile(folder + "/output", platform::kFileWrite,
                                         platform::FileDisposition::kCreateAlways));
  pid = platform::StartProcessWithStdio(
      kWineRun, {kWineRun, probeExe, "box", "Update: your client needs it."}, folder,
      {{}, out.Get(), {}});
  out.Close();
  std::vector<unsigned long> boxes;
  const uint32_t dwStart = platform::GetTickCount();
  // The skin's dialog and the box share the title; the box comes second.
  while (boxes.size() < 1 && platform::GetTickCount() - dwStart < 90000) {
    for (unsigned long w : probe->FindWindows("Quillmarch")) {
      if (probe->IsShown(w) && probe->Geometry(w).width == 388) boxes.push_back(w);
    }
    platform::Sleep(50);
  }
  ASSERT_EQ(boxes.size(), 1u) << Notes();
  const XRect r = probe->Geometry(boxes[0]);
  // Centred over the skin: 4 px in from its left, 10 px above it.
  EXPECT_EQ(r.x, kLeft + 4);
  EXPECT_EQ(r.y, kTop - 10);
  EXPECT_EQ(r.height, 254);

  // Each button shows its normal picture, then its hover picture under the
  // pointer; a click on Confirm answers OK.
  const std::vector<uint32_t> confirm = ButtonPixels(1250), cancel = ButtonPixels(1253);
  bool bNormal = false;
  for (int i = 0; i < 300 && !bNormal; ++i) {
    bNormal = probe->ScreenPixels(XRect{r.x + 75, r.y + 180, 99, 37}) == confirm &&
              probe->ScreenPixels(XRect{r.x + 222, r.y + 180, 99, 37}) == cancel;
    if (!bNormal) platform::Sleep(20);
  }
  EXPECT_TRUE(bNormal) << "the buttons' pictures did not show";
  probe->MovePointer(r.x + 75 + 50, r.y + 180 + 18);
  const std::vector<uint32_t> hover = ButtonPixels(1249);
  bool bHover = false;
  for (int i = 0; i < 300 && !bHover; ++i) {
    bHover = probe->ScreenPixels(XRect{r.x + 75, r.y + 180, 99, 37}) == hover;
    if (!bHover) platform::Sleep(20);
  }
  EXPECT_TRUE(bHover) << "the hover picture did not show";
  probe->Press();
  probe->Release();
  EXPECT_EQ(WaitEnd(30000), 0);
  // Standard output in text mode ends its lines as Windows does.
  EXPECT_EQ(tools::ReadWholeFile(folder + "/output"), "box1 1\r\n");
}

}  // namespace
