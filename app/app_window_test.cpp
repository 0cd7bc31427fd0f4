// The updater as a player sees it: the real executable on a private X
// server, against a loopback update server, in a private HOME.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/button_pixels.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tools/http_script.h"
#include "tools/script_server.h"
#include "tools/test_support.h"
#include "tools/wine_support.h"
#include "tools/x_display.h"
#include "ui/bar_layout.h"

namespace {

using tools::CScriptConnection;
using tools::CScriptServer;
using tools::XRect;

tools::CPrivateDisplay* const g_pDisplay = tools::AddProgramDisplay(false);

// Where the windows must be on a 1024×768 screen, and the bars in them.
constexpr int kLeft = 314, kTop = 267;
constexpr XRect kMainFillArea{kMainGroove.x, kMainGroove.y, kMainGroove.w, kMainGroove.h};
constexpr XRect kSecondFillArea{kSecondGroove.x, kSecondGroove.y, kSecondGroove.w, kSecondGroove.h};

bool Within(const XRect& outer, const XRect& inner) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

// A package whose play.exe notes that it ran. Stored, not compressed, so
// its size is what a throttled server takes its time over.
std::string MakePackage(const std::string& folder, size_t nBytes, int nFiles = 1) {
  const std::string src = folder + "/src";
  platform::CreateDirectories(src + "/data");
  tools::WriteWholeFile(src + "/play.exe", "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/started.txt\"\n");
  platform::MarkFile(src + "/play.exe", platform::FileMark::kExecutable);
  for (int i = 0; i < nFiles; ++i) {
    tools::WriteWholeFile(src + "/data/f" + std::to_string(i) + ".bin",
                          tools::PatternBytes(nBytes / nFiles, static_cast<uint32_t>(i + 5)));
  }
  const platform::ProcessId pid =
      platform::StartProcess("/usr/bin/7zz", {"7zz", "a", "-bso0", "-bsp0", "-mx0", folder + "/qarn.7z", "."}, src);
  EXPECT_EQ(platform::WaitProcess(pid), 0);
  return tools::ReadWholeFile(folder + "/qarn.7z");
}

class WindowRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tools::TestFolder() + "/win-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectories(folder + "/updater");
    exe = folder + "/updater/qarnauto";
    tools::WriteWholeFile(exe, tools::ReadWholeFile(QARNAUTO_EXE));
    platform::MarkFile(exe, platform::FileMark::kExecutable);
    platform::SetEnvironmentVariable("HOME", folder + "/home");
    platform::CreateDirectories(folder + "/home/Desktop");
    platform::CreateDirectories(folder + "/home/.config");
    platform::SetEnvironmentVariable("XDG_CONFIG_HOME", folder + "/home/.config");
    probe = std::make_unique<tools::CXProbe>(g_pDisplay->Name());
  }
  void TearDown() override {
    if (pid != platform::kInvalidProcess) {
      platform::TerminateProcess(pid);
      platform::WaitProcess(pid);
    }
    platform::SetEnvironmentVariable("HOME", tools::TestFolder() + "/home");
    platform::SetEnvironmentVariable("XDG_CONFIG_HOME", tools::TestFolder() + "/home/.config");
  }
  // Starts the updater; standard output and error go to a file.
  void Start(const std::string& argument) {
    platform::CFile out(platform::OpenFile(folder + "/output", platform::kFileWrite,
                                           platform::FileDisposition::kCreateAlways));
    pid = platform::StartProcessWithStdio(exe, {exe, argument}, "", {{}, out.Get(), out.Get()});
    out.Close();
  }
  int Wait() {
    if (pid != platform::kInvalidProcess) nCode = platform::WaitProcess(pid);
    pid = platform::kInvalidProcess;
    return nCode;
  }
  bool Running() {
    if (pid == platform::kInvalidProcess || platform::PollProcess(pid, &nCode)) return pid != platform::kInvalidProcess;
    pid = platform::kInvalidProcess;
    return false;
  }
  std::string Output() { return tools::ReadWholeFile(folder + "/output"); }
  std::string InstallFolder() {
    const std::string registry = tools::ReadWholeFile(platform::RegistryFilePath());
    const size_t at = registry.find("STARTUP=sz:");
    return at == std::string::npos ? "" : registry.substr(at + 11, registry.find('\n', at) - at - 11);
  }
  // The skin window and the main dialog, shown.
  void FindWindows() {
    skin = probe->FindWindow("Install", 20000);
    dialog = probe->FindWindow("Quillmarch", 5000);
    if (skin) probe->WaitViewable(skin, true);
    if (dialog) probe->WaitViewable(dialog, true);
  }
  // How many columns of a bar's fill row show the fill on the screen.
  int LitColumns(const XRect& fill) {
    const std::vector<uint32_t> row =
        probe->ScreenPixels(XRect{kLeft + fill.x, kTop + fill.y + fill.height / 2, fill.width, 1});
    return static_cast<int>(std::count_if(row.begin(), row.end(), [](uint32_t p) {
      const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      return r + g + b > 240;  // the grooves are nearly black
    }));
  }
  // Waits for a prompt's window by its caption.
  unsigned long FindPrompt(const char* caption, int nMilliseconds = 30000) {
    const unsigned long window = probe->FindWindow(caption, nMilliseconds);
    if (window) probe->WaitViewable(window, true);
    return window;
  }
  // The centre of a prompt's button: OK, or Cancel (rightmost).
  std::pair<int, int> PromptButton(unsigned long window, bool bOk) {
    const XRect r = probe->Geometry(window);
    const int y = r.y + r.height - 20 - 15;
    return {bOk ? r.x + r.width - 20 - 96 - 12 - 48 : r.x + r.width - 20 - 48, y};
  }
  std::string folder, exe;
  platform::ProcessId pid = platform::kInvalidProcess;
  int nCode = -1;  // the exit code, once the updater has ended
  std::unique_ptr<tools::CXProbe> probe;
  unsigned long skin = 0, dialog = 0;
};

TEST_F(WindowRunTest, TheSkinShowsTheBarsGrowingThenTheClientStarts) {
  const std::string package = MakePackage(folder, 1500000, 300);
  CScriptServer server([&](CScriptConnection& c) { tools::ServeContent(c, package, 400000); });
  Start(server.Url("/qarn") + "$EN$Window Game");
  FindWindows();
  ASSERT_NE(skin, 0u) << Output();
  ASSERT_NE(dialog, 0u);
  EXPECT_EQ(probe->Geometry(skin).x, kLeft);
  EXPECT_EQ(probe->Geometry(skin).y, kTop);
  EXPECT_TRUE(probe->WaitPosition(dialog, kLeft, kTop));
  EXPECT_EQ(probe->Parent(dialog), skin) << "the dialog is not inside the skin";
  // Icon 128 on both windows, at 48 and 16 pixels.
  for (unsigned long window : {skin, dialog}) {
    const std::vector<long> icon = probe->CardinalProperty(window, "_NET_WM_ICON");
    ASSERT_GE(icon.size(), 2u + 48 * 48 + 2 + 16 * 16);
    EXPECT_EQ(icon[0], 48);
    EXPECT_EQ(icon[2 + 48 * 48], 16);
  }

  // Over the skin only the bars show: the dialog's shape lies in their fills.
  int nFirst = -1, nLater = -1, nSecondSeen = 0;
  const uint32_t dwStart = platform::GetTickCount();
  while (Running() && platform::GetTickCount() - dwStart < 60000) {
    for (const XRect& r : probe->Shape(dialog, false)) {
      ASSERT_TRUE(Within(kMainFillArea, r) || Within(kSecondFillArea, r))
          << r.x << "," << r.y << " " << r.width;
    }
    const int nMain = LitColumns(kMainFillArea);
    if (nFirst < 0 && nMain > 0) {
      nFirst = nMain;
    } else if (nFirst >= 0 && nLater < 0 && nMain > nFirst + 20) {
      nLater = nMain;
    }
    nSecondSeen = std::max(nSecondSeen, LitColumns(kSecondFillArea));
    platform::Sleep(5);
  }
  EXPECT_GT(nFirst, 0) << "the main bar never showed";
  EXPECT_GT(nLater, nFirst) << "the main bar did not grow";
  EXPECT_GT(nSecondSeen, 0) << "the second bar never showed while installing";
  EXPECT_EQ(Wait(), 0);
  const std::string install = InstallFolder();
  ASSERT_FALSE(install.empty());
  EXPECT_EQ(tools::WaitForFile(install + "/started.txt", 5000), "blacknull\n");
  // A window run writes nothing on the terminal.
  EXPECT_EQ(Output(), "");
  EXPECT_FALSE(probe->Exists(skin) && probe->IsShown(skin));
}

TEST_F(WindowRunTest, AFailedDownloadAsksAndOkRetries) {
  const std::string package = MakePackage(folder, 100000);
  std::atomic<bool> bServe{false};
  CScriptServer server([&](CScriptConnection& c) {
    if (bServe) {
      tools::ServeContent(c, package);
    } else {
      c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    }
  });
  Start(server.Url("/qarn") + "$EN$Retry Game");
  const unsigned long prompt = FindPrompt("tips", 60000);
  ASSERT_NE(prompt, 0u) << Output();
  bServe = true;
  const auto [x, y] = PromptButton(prompt, true);
  probe->Click(x, y);
  EXPECT_EQ(Wait(), 0);
  EXPECT_EQ(tools::WaitForFile(InstallFolder() + "/started.txt", 5000), "blacknull\n");
}

TEST_F(WindowRunTest, CancelOnTheRetryPromptEndsWithoutTheClient) {
  CScriptServer server([&](CScriptConnection& c) { c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"); });
  for (bool bClick : {true, false}) {
    Start(server.Url("/qarn") + "$EN$Cancel Game");
    const unsigned long prompt = FindPrompt("tips", 60000);
    ASSERT_NE(prompt, 0u) << Output();
    if (bClick) {
      const auto [x, y] = PromptButton(prompt, false);
      probe->Click(x, y);
    } else {
      const XRect r = probe->Geometry(prompt);
      probe->MovePointer(r.x + 30, r.y + 30);
      probe->Key("Escape");
    }
    EXPECT_EQ(Wait(), 0);
    const std::string install = InstallFolder();
    EXPECT_FALSE(platform::FileExists(install + "/started.txt"));
    probe->WaitViewable(prompt, false);
  }
}

TEST_F(WindowRunTest, ARunningClientBringsTheUpdatingPromptAnsweredByAClick) {
  const std::string package = MakePackage(folder, 100000);
  CScriptServer server([&](CScriptConnection& c) { tools::ServeContent(c, package); });
  const std::string client = folder + "/qarn.exe";
  tools::WriteWholeFile(client, tools::ReadWholeFile("/bin/sleep"));
  platform::MarkFile(client, platform::FileMark::kExecutable);
  const platform::ProcessId running = platform::StartProcess(client, {client, "60"}, "");
  Start(server.Url("/qarn") + "$EN$Busy Game");
  const unsigned long prompt = FindPrompt("tips");
  ASSERT_NE(prompt, 0u) << Output();
  const auto [x, y] = PromptButton(prompt, true);
  probe->Click(x, y);
  // The running client is ended, and the update goes on to the end.
  EXPECT_EQ(platform::WaitProcess(running), 128 + 9);
  EXPECT_EQ(Wait(), 0);
  EXPECT_EQ(tools::WaitForFile(InstallFolder() + "/started.txt", 5000), "blacknull\n");
}

TEST_F(WindowRunTest, KeysAndClicksDoNothingADragMovesBothAndClosingEnds) {
  const std::string package = MakePackage(folder, 3000000);
  CScriptServer server([&](CScriptConnection& c) { tools::ServeContent(c, package, 100000); });
  Start(server.Url("/qarn") + "$EN$Slow Game");
  FindWindows();
  ASSERT_NE(skin, 0u) << Output();
  ASSERT_TRUE(probe->WaitPosition(dialog, kLeft, kTop));
  // Wait for the bar: then the dialog has a shape to click on.
  for (int i = 0; i < 1000 && LitColumns(kMainFillArea) < 3; ++i) platform::Sleep(10);
  ASSERT_GE(LitColumns(kMainFillArea), 3);
  probe->MovePointer(kLeft + kMainFillArea.x + 1, kTop + kMainFillArea.y + 5);
  EXPECT_EQ(probe->WindowUnderPointer(), dialog);
  probe->Key("Return");
  probe->Key("Escape");
  probe->Click(kLeft + kMainFillArea.x + 1, kTop + kMainFillArea.y + 5);
  platform::Sleep(300);
  EXPECT_TRUE(Running());
  EXPECT_TRUE(probe->IsShown(skin));
  EXPECT_TRUE(probe->IsShown(dialog));
  EXPECT_EQ(probe->Geometry(skin).x, kLeft);

  // A drag on the skin's sky moves both windows.
  probe->MovePointer(kLeft + 200, kTop + 100);
  probe->Press();
  for (int i = 1; i <= 10; ++i) probe->MovePointer(kLeft + 200 + 6 * i, kTop + 100 - 3 * i);
  probe->Release();
  EXPECT_TRUE(probe->WaitPosition(skin, kLeft + 60, kTop - 30));
  EXPECT_TRUE(probe->WaitPosition(dialog, kLeft + 60, kTop - 30));

  // The window manager's close ends the run with code 0, no client.
  probe->SendClientMessage(skin, "WM_PROTOCOLS", probe->InternAtom("WM_DELETE_WINDOW"), 0, 0);
  EXPECT_EQ(Wait(), 0);
  EXPECT_FALSE(platform::FileExists(InstallFolder() + "/started.txt"));
}

TEST_F(WindowRunTest, TheLoginHandleNamesTheDialogsWindow) {
  CScriptServer server([&](CScriptConnection& c) { tools::ServeContent(c, std::string(100, 'x'), 10); });
  // The value goes under a key an earlier run made.
  ASSERT_EQ(platform::RegCreateKey(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvanic"), 0);
  Start(server.Url("/qarn") + "$EN$Handle Game");
  FindWindows();
  ASSERT_NE(dialog, 0u);
  std::string registry;
  for (int i = 0; i < 500 && registry.find("PeloLoginHandle") == std::string::npos; ++i) {
    platform::Sleep(10);
    registry = tools::ReadWholeFile(platform::RegistryFilePath());
  }
  const uint32_t dwWant = static_cast<uint32_t>(dialog) * 2 + 6;
  EXPECT_NE(registry.find("PeloLoginHandle=dword:" + std::to_string(dwWant)), std::string::npos)
      << platform::RegistryFilePath() << ": " << registry << Output();
  // Closing the dialog's own window ends the run too.
  probe->SendClientMessage(dialog, "WM_PROTOCOLS", probe->InternAtom("WM_DELETE_WINDOW"), 0, 0);
  EXPECT_EQ(Wait(), 0);
}

}  // namespace

namespace {

// The skinned message box, shown through the application's hook by the
// probe program over a skin window.
class SkinnedBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { probe = std::make_unique<tools::CXProbe>(g_pDisplay->Name()); }
  void TearDown() override {
    if (pid != platform::kInvalidProcess) {
      platform::TerminateProcess(pid);
      platform::WaitProcess(pid);
    }
  }
  void Start(const std::vector<std::string>& texts) {
    out = tools::TestFolder() + "/box-output";
    platform::CFile file(
        platform::OpenFile(out, platform::kFileWrite, platform::FileDisposition::kCreateAlways));
    std::vector<std::string> args = {WINDOW_PROBE, "box"};
    args.insert(args.end(), texts.begin(), texts.end());
    pid = platform::StartProcessWithStdio(WINDOW_PROBE, args, "", {{}, file.Get(), {}});
    file.Close();
  }
  std::string Finish() {
    platform::WaitProcess(pid);
    pid = platform::kInvalidProcess;
    return tools::ReadWholeFile(out);
  }
  // The topmost box (the newest), waited for.
  unsigned long TopBox(size_t nBoxes) {
    std::vector<unsigned long> boxes;
    for (int i = 0; i < 1000 && boxes.size() < nBoxes; ++i) {
      boxes = probe->FindWindows("Quillmarch");
      if (boxes.size() < nBoxes) platform::Sleep(10);
    }
    if (boxes.size() < nBoxes) return 0;
    probe->WaitViewable(boxes.back(), true);
    return boxes.back();
  }
  std::unique_ptr<tools::CXProbe> probe;
  platform::ProcessId pid = platform::kInvalidProcess;
  std::string out;
};

TEST_F(SkinnedBoxTest, ConfirmAndCancelAnswerKeysDoNothingHoverShows) {
  for (int nWant : {1, 2}) {
    Start({"Update: your client needs to be updated."});
    const unsigned long box = TopBox(1);
    ASSERT_NE(box, 0u);
    const XRect r = probe->Geometry(box);
    // Centred over the 396×234 skin: 4 px in from its left, 10 px above.
    EXPECT_EQ(r.x, kLeft + 4);
    EXPECT_EQ(r.y, kTop - 10);
    EXPECT_EQ(r.width, 388);
    EXPECT_EQ(r.height, 254);
    probe->MovePointer(r.x + 30, r.y + 30);
    probe->Key("Return");
    probe->Key("Escape");
    platform::Sleep(200);
    EXPECT_TRUE(probe->IsShown(box));
    const int bx = r.x + (nWant == 1 ? 75 : 222), by = r.y + 180;
    probe->MovePointer(bx + 50, by + 18);
    const std::vector<uint32_t> hover = ButtonPixels(nWant == 1 ? 1249 : 1252);
    bool bHover = false;
    for (int i = 0; i < 300 && !bHover; ++i) {
      bHover = probe->ScreenPixels(XRect{bx, by, 99, 37}) == hover;
      if (!bHover) platform::Sleep(10);
    }
    EXPECT_TRUE(bHover) << "the hover picture did not show";
    probe->Press();
    probe->Release();
    EXPECT_EQ(Finish(), "box1 " + std::to_string(nWant) + "\n");
  }
}

TEST_F(SkinnedBoxTest, ASecondBoxEndingClosesTheFirst) {
  Start({"The first box.", "The second box, over the first."});
  const unsigned long second = TopBox(2);
  ASSERT_NE(second, 0u);
  const XRect r = probe->Geometry(second);
  probe->Click(r.x + 75 + 50, r.y + 180 + 18);
  EXPECT_EQ(Finish(), "box2 1\nbox1 2\n");
}

}  // namespace
