#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "app/main_dialog.h"
#include "engine/nn_down.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/terminal.h"
#include "platform/text.h"
#include "tools/http_script.h"
#include "tools/nginx_server.h"
#include "tools/script_server.h"
#include "tools/test_support.h"
#include "tools/wine_support.h"
#include "ui/language_texts.h"
#include "update/package_install.h"
#include "update/package_pack.h"

namespace {

using tools::CScriptConnection;
using tools::CScriptServer;

TEST(MainDialogTest, ProgressOutsideZeroToHundredChangesNothing) {
  LoadLanguageTexts(3);
  QarnAutoDlg dialog;
  DownProgress record;
  record.bActive = 1;
  record.llTotal = 2 * 1048576;
  record.llDownloaded = 1048576;
  record.nPercent = 101;
  testing::internal::CaptureStderr();
  dialog.OnMessage(WM_DOWN_NOTIFY, reinterpret_cast<platform::WPARAM>(&record), 999);
  EXPECT_EQ(dialog.MainBar(), 0);
  EXPECT_EQ(dialog.StatusText(), u"Verifying client");
  record.nPercent = 50;
  dialog.OnMessage(WM_DOWN_NOTIFY, reinterpret_cast<platform::WPARAM>(&record), 0);  // not 999
  dialog.OnMessage(WM_DOWN_NOTIFY, 0, 999);                                          // no record
  EXPECT_EQ(dialog.MainBar(), 0);
  record.nPercent = 100;
  record.llDownloaded = record.llTotal;
  record.dSpeed = 2.048;  // bytes per millisecond: 2 K/S
  dialog.OnMessage(WM_DOWN_NOTIFY, reinterpret_cast<platform::WPARAM>(&record), 999);
  EXPECT_EQ(dialog.MainBar(), 100);
  EXPECT_EQ(dialog.StatusText(), u"Downloaded:100% (2.00M/2.00M) Download Speed:2.00K/S");

  dialog.OnMessage(WM_INSTALL_PROGRESS, 42, 1);  // wrong tag
  EXPECT_EQ(dialog.SecondBar(), 0);
  dialog.OnMessage(WM_INSTALL_PROGRESS, 42, kInstallProgressTag);
  EXPECT_EQ(dialog.SecondBar(), 42);
  const std::string shown = testing::internal::GetCapturedStderr();
  // Not a terminal here: one line per report.
  EXPECT_NE(shown.find("Downloaded:100% (2.00M/2.00M) Download Speed:2.00K/S\n"), std::string::npos);
  EXPECT_NE(shown.find("Installing: 42%\n"), std::string::npos);
}

TEST(MainDialogTest, TheFinalReportShowsTheAverageSpeedOfTheAttempt) {
  LoadLanguageTexts(3);
  QarnAutoDlg dialog;
  DownProgress record;
  record.bActive = 1;
  record.llTotal = 2 * 1048576;
  record.llDownloaded = 1048576;
  record.nPercent = 50;
  record.dSpeed = 3.072;
  testing::internal::CaptureStderr();
  dialog.OnMessage(WM_DOWN_NOTIFY, reinterpret_cast<platform::WPARAM>(&record), 999);
  EXPECT_NE(dialog.StatusText().find(u"Download Speed:3.00K/S"), std::u16string::npos);
  platform::Sleep(100);
  // The engine's final report: not active, no speed of its own.
  record.bActive = 0;
  record.dSpeed = 0;
  record.llDownloaded = record.llTotal;
  record.nPercent = 100;
  dialog.OnMessage(WM_DOWN_NOTIFY, reinterpret_cast<platform::WPARAM>(&record), 999);
  testing::internal::GetCapturedStderr();
  const std::string text = platform::Utf16ToUtf8(dialog.StatusText());
  const size_t at = text.find("Download Speed:");
  ASSERT_NE(at, std::string::npos) << text;
  const double dShown = std::stod(text.substr(at + 15));
  // 1 MiB in at least 100 ms: above 0, at most 10240 K/S.
  EXPECT_GT(dShown, 0.0) << text;
  EXPECT_LE(dShown, 10240.0) << text;
}

// A terminal run to a file or a pipe: at most one progress line a second,
// and while nothing arrives the line says for how long.
TEST(MainDialogTest, APipeGetsALineASecondAndAStallSaysHowLong) {
  LoadLanguageTexts(3);
  QarnAutoDlg dialog;
  DownProgress record;
  record.bActive = 1;
  record.llTotal = 2 * 1048576;
  record.llDownloaded = 1048576;
  record.nPercent = 50;
  const auto report = [&] {
    dialog.OnMessage(WM_DOWN_NOTIFY, reinterpret_cast<platform::WPARAM>(&record), 999);
  };
  testing::internal::CaptureStderr();
  const uint32_t dwStart = platform::GetTickCount();
  for (int i = 0; i < 8; ++i) {  // bytes arriving, reports every 100 ms
    record.llDownloaded += 1000;
    report();
    platform::Sleep(100);
  }
  for (int i = 0; i < 8; ++i) {  // then nothing for a while
    report();
    platform::Sleep(500);
  }
  platform::Sleep(1100);
  report();
  const uint32_t dwSpent = platform::GetTickCount() - dwStart;
  record.bActive = 0;  // the final report is always written
  report();
  const std::string shown = testing::internal::GetCapturedStderr();
  int nLines = 0;
  for (size_t at = 0; (at = shown.find("Downloaded:", at)) != std::string::npos; ++at) ++nLines;
  EXPECT_GE(nLines, 3) << shown;
  EXPECT_LE(nLines, static_cast<int>(dwSpent / 1000) + 2) << shown;
  const size_t stalled = shown.rfind(" - stalled for ");
  ASSERT_NE(stalled, std::string::npos) << shown;
  EXPECT_GE(std::stoi(shown.substr(stalled + 15)), 4) << shown;
  // Never on the final line.
  EXPECT_EQ(shown.substr(shown.rfind("Downloaded:")).find("stalled"), std::string::npos) << shown;
}

TEST(MainDialogTest, TheProgressLineNeverWrapsOnANarrowTerminal) {
  const std::string text = "Downloaded:50% (1.00M/2.00M)   Download Speed:3.00K/S ";
  EXPECT_EQ(ComposeProgressLine(text, 50, 0), "[##########----------] " + text);
  EXPECT_EQ(ComposeProgressLine(text, 50, 200), "[##########----------] " + text);
  // The text takes 54 columns; the bar gets what is left of all but the
  // last column, and goes when fewer than 5 cells are left.
  EXPECT_EQ(ComposeProgressLine(text, 100, 60), text);
  EXPECT_EQ(ComposeProgressLine(text, 100, 64), "[######] " + text);
  EXPECT_EQ(ComposeProgressLine(text, 40, 66), "[###-----] " + text);
  // Narrower than the text: no bar, the text cut.
  EXPECT_EQ(ComposeProgressLine(text, 50, 20), text.substr(0, 19));
  EXPECT_EQ(ComposeProgressLine(text, 50, 1), "");
  // Wide characters take two columns and are never cut in half.
  EXPECT_EQ(ComposeProgressLine("已下载:50%", 50, 8), "已下载:");
  EXPECT_EQ(ComposeProgressLine("已下载:50%", 50, 7), "已下载");
}

TEST(CommandLineTest, OnlyALeadingDashIsAnOption) {
  EXPECT_TRUE(IsOptionArgument("--help"));
  EXPECT_TRUE(IsOptionArgument("-"));
  EXPECT_FALSE(IsOptionArgument(""));
  EXPECT_FALSE(IsOptionArgument("http://h/qarn$EN$-x"));
  EXPECT_FALSE(IsOptionArgument("a-b$EN$Name"));
  EXPECT_FALSE(IsOptionArgument(" -h"));
}

// The updater as a player runs it: its own folder, an update server, answers
// on standard input.
class UpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');  // a parameterised test's name
    folder = tools::TestFolder() + "/app-" + name;
    platform::CreateDirectory(folder);
    platform::CreateDirectory(folder + "/updater");
    exe = folder + "/updater/qarnauto";
    tools::WriteWholeFile(exe, tools::ReadWholeFile(QARNAUTO_EXE));
    platform::MarkFile(exe, platform::FileMark::kExecutable);
    platform::DeleteFile(platform::RegistryFilePath());
    // Each test installs under a drive root of its own.
    platform::SetEnvironmentVariable("HOME", folder + "/home");
    platform::CreateDirectory(folder + "/home");
    platform::CreateDirectory(folder + "/home/Desktop");
    platform::CreateDirectory(folder + "/home/.config");
    platform::SetEnvironmentVariable("XDG_CONFIG_HOME", folder + "/home/.config");
  }
  void TearDown() override {
    platform::SetEnvironmentVariable("HOME", tools::TestFolder() + "/home");
    platform::SetEnvironmentVariable("XDG_CONFIG_HOME", tools::TestFolder() + "/home/.config");
  }
  // Runs the updater with the answers as its standard input; its exit code.
  int RunUpdater(const std::string& argument, const std::string& answers) {
    return platform::WaitProcess(StartUpdater(argument, answers));
  }
  // Starts it so; its output goes to the output file.
  platform::ProcessId StartUpdater(const std::string& argument, const std::string& answers) {
    tools::WriteWholeFile(folder + "/answers", answers);
    platform::CFile in(platform::OpenFile(folder + "/answers", platform::kFileRead,
                                          platform::FileDisposition::kOpenExisting));
    platform::CFile out(platform::OpenFile(folder + "/output", platform::kFileWrite,
                                           platform::FileDisposition::kCreateAlways));
    std::vector<std::string> args = {exe};
    if (!argument.empty()) args.push_back(argument);
    const platform::ProcessId pid =
        platform::StartProcessWithStdio(exe, args, "", {in.Get(), out.Get(), out.Get()});
    in.Close();
    out.Close();
    return pid;
  }
  std::string Output() { return tools::ReadWholeFile(folder + "/output"); }
  std::string InstallFolder() {
    const std::string registry = tools::ReadWholeFile(platform::RegistryFilePath());
    const size_t at = registry.find("STARTUP=sz:");
    return at == std::string::npos ? "" : registry.substr(at + 11, registry.find('\n', at) - at - 11);
  }
  std::string folder, exe;
};

std::string MakePackage(const std::string& folder, const std::string& client = "") {
  const std::string src = folder + "/src";
  platform::CreateDirectory(src);
  platform::CreateDirectory(src + "/data");
  tools::WriteWholeFile(src + "/play.exe",
                        !client.empty() ? client
                                        : "#!/bin/sh\necho \"$1 $(pwd)\" > \"$(dirname \"$0\")/started.txt\"\n");
  platform::MarkFile(src + "/play.exe", platform::FileMark::kExecutable);
  tools::WriteWholeFile(src + "/data/big.bin", tools::PatternBytes(200000, 61));
  const platform::ProcessId pid = platform::StartProcess(
      "/usr/bin/7zz", {"7zz", "a", "-bso0", "-bsp0", folder + "/qarn.7z", "."}, src);
  EXPECT_EQ(platform::WaitProcess(pid), 0);
  return tools::ReadWholeFile(folder + "/qarn.7z");
}

// Installed for everybody (a folder the running user does not own), the
// updater run by root, who could write anywhere, still leaves the program
// folder as it was: the run log and its lock go to the user's state folder.
TEST_F(UpdaterTest, InstalledSystemWideItWritesNothingBesideItself) {
  if (!tools::RunningAsSuperuser()) GTEST_SKIP() << "needs root to hand the folder to another user";
  ASSERT_TRUE(tools::GiveToNobody(folder + "/updater"));
  const std::string state = folder + "/state";
  const std::string testState = platform::GetEnvironmentVariable("XDG_STATE_HOME");
  platform::SetEnvironmentVariable("XDG_STATE_HOME", state);
  const std::string package = MakePackage(folder);
  CScriptServer server([&](CScriptConnection& c) { tools::ServeContent(c, package); });
  const int nCode = RunUpdater(server.Url("/qarn") + "$EN$My Game", "");
  platform::SetEnvironmentVariable("XDG_STATE_HOME", testState);
  EXPECT_EQ(nCode, 0);
  ASSERT_FALSE(InstallFolder().empty()) << Output();
  std::vector<std::string> names;
  for (const platform::DirEntry& e : platform::ListDirectory(folder + "/updater")) names.push_back(e.name);
  EXPECT_EQ(names, std::vector<std::string>{"qarnauto"});
  EXPECT_NE(tools::ReadWholeFile(state + "/qarnauto/qarnAutoLog.log"), "");
}

TEST_F(UpdaterTest, UpdatesInstallsRecordsAndStartsTheClient) {
  const std::string package = MakePackage(folder);
  CScriptServer server([&](CScriptConnection& c) { tools::ServeContent(c, package); });
  EXPECT_EQ(RunUpdater(server.Url("/qarn") + "$EN$My Game", ""), 0);
  const std::string install = InstallFolder();
  ASSERT_FALSE(install.empty()) << Output();
  EXPECT_EQ(install, folder + "/home/program files (x86)/Talvora/EN");
  EXPECT_TRUE(tools::ReadWholeFile(install + "/data/big.bin") == tools::PatternBytes(200000, 61));
  EXPECT_FALSE(platform::FileExists(install + "/Download/0/qarn.7z"));
  EXPECT_TRUE(platform::FileExists(folder + "/home/Desktop/My Game.desktop"));
  EXPECT_TRUE(platform::FileExists(folder + "/updater/qarnAutoLog.log"));
  std::string started;
  for (int i = 0; i < 100 && started.empty(); ++i) {
    platform::Sleep(20);
    started = tools::ReadWholeFile(install + "/started.txt");
  }
  EXPECT_EQ(started, "blacknull " + install + "\n");
  const std::string output = Output();
  EXPECT_NE(output.find("Starting download..."), std::string::npos);
  EXPECT_NE(output.find("Installing: 100%"), std::string::npos);
  EXPECT_NE(output.find("Starting client..."), std::string::npos);
}

TEST_F(UpdaterTest, AWindowsClientInThePackageStartsThroughWine) {
  if (!tools::WineAndClientAvailable(WIN_CLIENT)) GTEST_SKIP() << "no Wine or mingw-w64";
  tools::UsePrivateWinePrefix();
  const std::string package = MakePackage(folder, tools::ReadWholeFile(WIN_CLIENT));
  CScriptServer server([&](CScriptConnection& c) { tools::ServeContent(c, package); });
  EXPECT_EQ(RunUpdater(server.Url("/qarn") + "$EN$Win Game", ""), 0);
  const std::string install = InstallFolder();
  ASSERT_FALSE(install.empty()) << Output();
  EXPECT_EQ(tools::WaitForFile(install + "/started.txt", 90000),
            "blacknull " + tools::WindowsPathOf(install) + "\n");
  const std::string launcher = tools::ReadWholeFile(folder + "/home/Desktop/Win Game.desktop");
  EXPECT_NE(launcher.find("Exec=env \"WINEPREFIX="), std::string::npos) << launcher;
  platform::UnsetEnvironmentVariable("WINEPREFIX");
}

// Everything the folder holds, relative names, sorted.
std::vector<std::string> TreeOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const platform::DirEntry& e : platform::ListDirectory(folder)) {
    names.push_back(e.name);
    if (e.bDirectory) {
      for (const std::string& inner : TreeOf(folder + "/" + e.name)) names.push_back(e.name + "/" + inner);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A package of many files, so an installation takes a while; "version"
// changes every file's content, and a few names exist in one version only.
// bBlocks: made by the packing program in several solid blocks, which
// several threads unpack; else by 7zz in one.
std::string MakeManyFilePackage(const std::string& folder, int nVersion, bool bBlocks = false) {
  const std::string src = folder + "/src-v" + std::to_string(nVersion);
  platform::CreateDirectory(src);
  tools::WriteWholeFile(src + "/play.exe", "#!/bin/sh\necho started > \"$(dirname \"$0\")/started.txt\"\n");
  platform::MarkFile(src + "/play.exe", platform::FileMark::kExecutable);
  for (int d = 0; d < 6; ++d) {
    const std::string dir = src + "/d" + std::to_string(d);
    platform::CreateDirectory(dir);
    for (int f = 0; f < 40; ++f) {
      tools::WriteWholeFile(dir + "/f" + std::to_string(f) + ".bin",
                            tools::PatternBytes(6000 + f, static_cast<uint32_t>(nVersion * 1000 + d * 50 + f)));
    }
  }
  tools::WriteWholeFile(src + "/only-v" + std::to_string(nVersion) + ".txt", "v" + std::to_string(nVersion));
  const std::string archive = folder + "/qarn-v" + std::to_string(nVersion) + ".7z";
  if (bBlocks) {
    PackOptions options;
    options.nBlockTarget = 200000;
    std::string error;
    EXPECT_TRUE(PackFolder(src, archive, options, &error)) << error;
  } else {
    const platform::ProcessId pid = platform::StartProcess(
        "/usr/bin/7zz", {"7zz", "a", "-bso0", "-bsp0", "-mx1", archive, "."}, src);
    EXPECT_EQ(platform::WaitProcess(pid), 0);
  }
  return tools::ReadWholeFile(archive);
}

// The first file of the install folder that is not MakeManyFilePackage's
// of that version; "" when all are.
std::string WrongManyFile(const std::string& install, int nVersion) {
  for (int d = 0; d < 6; ++d) {
    for (int f = 0; f < 40; ++f) {
      const std::string name = "/d" + std::to_string(d) + "/f" + std::to_string(f) + ".bin";
      if (tools::ReadWholeFile(install + name) !=
          tools::PatternBytes(6000 + f, static_cast<uint32_t>(nVersion * 1000 + d * 50 + f))) {
        return name;
      }
    }
  }
  return "";
}

// The package in one solid block, and in several that threads unpack side
// by side when the kill comes.
class UpdaterKillTest : public UpdaterTest, public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(Packages, UpdaterKillTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "ManyBlocks" : "OneBlock";
                         });

TEST_P(UpdaterKillTest, KilledAtAnyPointOfTheInstallationTheNextRunCompletesIt) {
  std::string package = MakeManyFilePackage(folder, 1, GetParam());
  std::mutex packageLock;
  CScriptServer server([&](CScriptConnection& c) {
    std::string current;
    {
      std::lock_guard<std::mutex> lock(packageLock);
      current = package;
    }
    tools::ServeContent(c, current);
  });
  const std::string location = server.Url("/qarn") + "$EN$Killed";
  ASSERT_EQ(RunUpdater(location, ""), 0);
  const std::string install = InstallFolder();
  ASSERT_TRUE(platform::FileExists(install + "/only-v1.txt")) << Output();
  {
    std::lock_guard<std::mutex> lock(packageLock);
    package = MakeManyFilePackage(folder, 2, GetParam());
  }
  // Killed at several points while version 2 goes in: during the
  // extraction at rising shares, and during the moves.
  int nKilledMidway = 0;
  for (const char* point : {"Installing: 0%", "Installing: 20%", "Installing: 50%", "Installing: 80%",
                            "Installing: 100%"}) {
    const platform::ProcessId pid = StartUpdater(location, "");
    const uint32_t dwStart = platform::GetTickCount();
    while (Output().find(point) == std::string::npos &&
           Output().find("Starting client") == std::string::npos &&
           platform::GetTickCount() - dwStart < 60000) {
      platform::Sleep(1);
    }
    platform::TerminateProcess(pid);
    platform::WaitProcess(pid);
    if (Output().find("Starting client") == std::string::npos) ++nKilledMidway;
  }
  EXPECT_GE(nKilledMidway, 3) << "the kills came too late to test anything";
  // The next run completes the update.
  EXPECT_EQ(RunUpdater(location, ""), 0);
  EXPECT_EQ(InstallFolder(), install);
  EXPECT_EQ(WrongManyFile(install, 2), "");
  EXPECT_EQ(tools::ReadWholeFile(install + "/only-v2.txt"), "v2");
  EXPECT_EQ(tools::ReadWholeFile(install + "/only-v1.txt"), "v1") << "an old file was lost";
  // One more start (as the player's next) leaves no stand-aside behind.
  EXPECT_EQ(RunUpdater(location, ""), 0);
  std::vector<std::string> dels;
  for (const std::string& name : TreeOf(install)) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".del") == 0) dels.push_back(name);
  }
  EXPECT_EQ(dels, std::vector<std::string>{});
}

// Killed at random moments while the blocks of an update come in, the next
// start fetches only what the earlier ones did not keep, and the tree is the
// package's byte for byte.
TEST_F(UpdaterTest, KilledWhileFetchingBlocksTheNextRunFetchesOnlyWhatItLacks) {
  std::string package = MakeManyFilePackage(folder, 1, true);
  std::mutex packageLock;
  std::atomic<int64_t> llServed{0};
  // Ranges, slowly (about 200 kB/s per connection), counting the body bytes.
  CScriptServer server([&](CScriptConnection& c) {
    std::string current;
    {
      std::lock_guard<std::mutex> lock(packageLock);
      current = package;
    }
    for (std::string request; !(request = c.ReadRequest()).empty();) {
      int64_t first = 0, last = static_cast<int64_t>(current.size()) - 1;
      const bool bRange = tools::RequestRange(request, &first, &last);
      last = std::min<int64_t>(last, static_cast<int64_t>(current.size()) - 1);
      const std::string body = current.substr(static_cast<size_t>(first), static_cast<size_t>(last - first + 1));
      const std::string head =
          bRange ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
                       std::to_string(last) + "/" + std::to_string(current.size()) + "\r\n"
                 : std::string("HTTP/1.1 200 OK\r\n");
      if (!c.Send(head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n")) return;
      for (size_t at = 0; at < body.size(); at += 20000) {
        if (!c.Send(body.substr(at, 20000))) return;
        llServed += static_cast<int64_t>(std::min<size_t>(20000, body.size() - at));
        platform::Sleep(100);
      }
    }
  });
  const std::string location = server.Url("/qarn") + "$EN$Killed";
  ASSERT_EQ(RunUpdater(location, ""), 0);
  const std::string install = InstallFolder();
  {
    std::lock_guard<std::mutex> lock(packageLock);
    package = MakeManyFilePackage(folder, 2, true);
  }
  llServed = 0;
  std::srand(static_cast<unsigned>(platform::GetTickCount()));
  for (int i = 0; i < 2; ++i) {
    const platform::ProcessId pid = StartUpdater(location, "");
    // Somewhere in the fetch: after some bytes, before the package's worth.
    const int64_t llAt = llServed.load() + static_cast<int64_t>(package.size()) * 3 / 10 +
                         std::rand() % (static_cast<int64_t>(package.size()) / 7);
    const uint32_t dwStart = platform::GetTickCount();
    while (llServed.load() < llAt && platform::GetTickCount() - dwStart < 30000) platform::Sleep(1);
    platform::TerminateProcess(pid);
    platform::WaitProcess(pid);
  }
  const int64_t llBefore = llServed.load();
  EXPECT_LT(llBefore, static_cast<int64_t>(package.size())) << "the kills came too late to test anything";
  EXPECT_EQ(RunUpdater(location, ""), 0) << Output();
  const int64_t llLast = llServed.load() - llBefore;
  // The last run took what was not yet on the disk: what the earlier ones
  // fetched counts, but for the last bytes of each piece in flight.
  EXPECT_LT(llLast, static_cast<int64_t>(package.size()) - llBefore / 2) << llBefore << " before";
  EXPECT_EQ(WrongManyFile(install, 2), "");
  EXPECT_EQ(tools::ReadWholeFile(install + "/only-v2.txt"), "v2");
}

// Over HTTPS from nginx with a test CA that only the updater's environment
// trusts: a certificate for another name refused, then the package
// installed, then killed twice in the middle of the next version's fetch by
// blocks, and the run after that completes it, every file right.
TEST_F(UpdaterTest, OverHttpsAWrongNameIsRefusedAndAKilledFetchCompletes) {
  if (!tools::NginxAvailable()) GTEST_SKIP() << "nginx is not installed";
  const std::string certs = folder + "/certs";
  ASSERT_EQ(platform::WaitProcess(platform::StartProcess("/bin/sh", {"/bin/sh", TEST_CERTS_SCRIPT, certs}, "")), 0);
  platform::SetEnvironmentVariable("SSL_CERT_FILE", certs + "/ca.pem");
  platform::CreateDirectories(folder + "/www/qarn");
  tools::WriteWholeFile(folder + "/www/qarn/qarn.7z", MakeManyFilePackage(folder, 1, true));
  {
    // A certificate for another name: the retry prompt within seconds, its
    // reason in the run log, nothing installed.
    tools::CNginxServer wrong(
        folder + "/www", "ssl_certificate " + certs + "/wrongname.pem; ssl_certificate_key " + certs + "/wrongname.key;",
        true);
    ASSERT_TRUE(wrong.Started());
    const uint32_t dwStart = platform::GetTickCount();
    EXPECT_EQ(RunUpdater(wrong.UrlAt("localhost", "/qarn") + "$EN$Https", "no\n"), 0);
    const uint32_t dwSpent = platform::GetTickCount() - dwStart;
    std::printf("wrong name: prompted and ended in %u ms\n", static_cast<unsigned>(dwSpent));
    EXPECT_LT(dwSpent, 10000u);
    EXPECT_NE(Output().find("[tips] Download package failed, Retry it?"), std::string::npos) << Output();
    EXPECT_NE(tools::ReadWholeFile(folder + "/updater/qarnAutoLog.log").find("hostname mismatch"), std::string::npos);
    EXPECT_EQ(InstallFolder(), "");
  }
  // About 100 kB/s a connection: the fetch of a version takes seconds.
  tools::CNginxServer nginx(folder + "/www",
                            "limit_rate 100k; ssl_certificate " + certs + "/good.pem; ssl_certificate_key " + certs +
                                "/good.key;",
                            true);
  ASSERT_TRUE(nginx.Started());
  const std::string location = nginx.UrlAt("localhost", "/qarn") + "$EN$Https";
  ASSERT_EQ(RunUpdater(location, ""), 0) << Output();
  const std::string install = InstallFolder();
  EXPECT_EQ(tools::ReadWholeFile(install + "/only-v1.txt"), "v1");

  tools::WriteWholeFile(folder + "/www/qarn/qarn.7z", MakeManyFilePackage(folder, 2, true));
  for (int i = 0; i < 2; ++i) {
    const platform::ProcessId pid = StartUpdater(location, "");
    platform::Sleep(1500 + 700 * i);
    platform::TerminateProcess(pid);
    platform::WaitProcess(pid);
  }
  EXPECT_FALSE(platform::FileExists(install + "/only-v2.txt")) << "the kills came too late to test anything";
  EXPECT_EQ(RunUpdater(location, ""), 0) << Output();
  EXPECT_EQ(WrongManyFile(install, 2), "");
  EXPECT_EQ(tools::ReadWholeFile(install + "/only-v2.txt"), "v2");
  EXPECT_NE(tools::ReadWholeFile(folder + "/updater/qarnAutoLog.log").find("update by blocks: "), std::string::npos);
}

TEST_F(UpdaterTest, AWindowsClientStartsThroughTheWineTheEnvironmentNames) {
  // Enough of a PE file to be one; the stand-in Wine records how it was asked.
  std::string pe(0x80, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[0x3C] = 0x40;
  pe.replace(0x40, 6, std::string("PE\0\0\x64\x86", 6));
  const std::string package = MakePackage(folder, pe);
  const std::string record = folder + "/wine-args.txt";
  tools::WriteWholeFile(folder + "/fake-wine", "#!/bin/sh\nprintf '%s|' \"$@\" > \"" + record +
                                                  ".tmp\"\npwd >> \"" + record + ".tmp\"\nmv \"" +
                                                  record + ".tmp\" \"" + record + "\"\n");
  platform::MarkFile(folder + "/fake-wine", platform::FileMark::kExecutable);
  platform::SetEnvironmentVariable("QARNAUTO_WINE", folder + "/fake-wine");
  CScriptServer server([&](CScriptConnection& c) { tools::ServeContent(c, package); });
  const int nCode = RunUpdater(server.Url("/qarn") + "$EN$Stand In", "");
  platform::UnsetEnvironmentVariable("QARNAUTO_WINE");
  EXPECT_EQ(nCode, 0);
  const std::string install = InstallFolder();
  ASSERT_FALSE(install.empty()) << Output();
  EXPECT_EQ(tools::WaitForFile(record, 10000), install + "/play.exe|blacknull|" + install + "\n");
  const std::string launcher = tools::ReadWholeFile(folder + "/home/Desktop/Stand In.desktop");
  EXPECT_NE(launcher.find("Exec=\"" + folder + "/fake-wine\" \"" + install + "/play.exe\"\n"),
            std::string::npos)
      << launcher;
}

TEST_F(UpdaterTest, FailedDownloadAsksAndCancelEndsWithoutTheClient) {
  CScriptServer server([](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  });
  // First answer retries, the second gives up.
  EXPECT_EQ(RunUpdater(server.Url("/qarn") + "$EN$", "y\nno\n"), 0);
  const std::string output = Output();
  size_t prompts = 0;
  for (size_t at = 0; (at = output.find("[tips] Download package failed, Retry it?", at)) != std::string::npos; ++at) ++prompts;
  EXPECT_EQ(prompts, 2u) << output;
  EXPECT_EQ(InstallFolder(), "");
  EXPECT_EQ(output.find("Starting client..."), std::string::npos);
  const std::string log = tools::ReadWholeFile(folder + "/updater/qarnAutoLog.log");
  EXPECT_NE(log.find("download file " + server.Url("/qarn") + "/qarn.7z"), std::string::npos) << log;
  EXPECT_NE(log.find("size of " + server.Url("/qarn") +
                     "/qarn.7z unknown: the server answered \"HTTP/1.1 404 Not Found\""),
            std::string::npos)
      << log;
}

TEST_F(UpdaterTest, WithoutAReachableDisplayTheRunIsATerminalRun) {
  CScriptServer server([](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  });
  const std::string location = server.Url("/qarn") + "$EN$";
  platform::UnsetEnvironmentVariable("DISPLAY");
  ASSERT_EQ(RunUpdater(location, "no\n"), 0);
  const std::string unset = Output();
  ASSERT_NE(unset.find("[tips] Download package failed, Retry it?"), std::string::npos) << unset;
  // Empty, and a display nobody serves: the same run, byte for byte.
  for (const char* display : {"", ":4242"}) {
    platform::SetEnvironmentVariable("DISPLAY", display);
    EXPECT_EQ(RunUpdater(location, "no\n"), 0) << display;
    EXPECT_EQ(Output(), unset) << display;
  }
  platform::UnsetEnvironmentVariable("DISPLAY");
}

TEST_F(UpdaterTest, AServerThatIsDownBringsThePromptWithinSeconds) {
  const std::string location =
      "http://127.0.0.1:" + std::to_string(tools::RefusingPort()) + "/qarn$EN$";
  const uint32_t dwStart = platform::GetTickCount();
  EXPECT_EQ(RunUpdater(location, "no\n"), 0);
  // 15 refused attempts, each paused half a second, and the design's fixed
  // pauses; far from the 15 × 8 s a silent server costs.
  EXPECT_LT(platform::GetTickCount() - dwStart, 20000u);
  const std::string output = Output();
  EXPECT_NE(output.find("[tips] Download package failed, Retry it?"), std::string::npos) << output;
  const std::string log = tools::ReadWholeFile(folder + "/updater/qarnAutoLog.log");
  EXPECT_NE(log.find("unknown: connection refused"), std::string::npos) << log;
}

// The update server ends in the middle of the download: the player is
// asked to retry within seconds, not after the 90 s no-progress bound, and
// a run to a file writes about one progress line a second meanwhile.
TEST_F(UpdaterTest, AServerThatGoesAwayMidDownloadBringsThePromptInSeconds) {
  const std::string package = tools::PatternBytes(3000000, 44);
  // Ranges served slowly, until the server stops.
  auto server = std::make_unique<CScriptServer>(tools::AnswerProbeThen(
      static_cast<int64_t>(package.size()), [&](CScriptConnection& c, int64_t first, int64_t last) {
        c.Send("HTTP/1.1 206 Partial Content\r\n\r\n");
        c.SendSlowly(std::string_view(package).substr(first, last - first + 1), 5000, 100);
      }));
  const std::string location = server->Url("/qarn") + "$EN$";
  uint32_t dwGone = 0;
  std::thread killer([&] {
    platform::Sleep(3000);
    dwGone = platform::GetTickCount();
    server.reset();
  });
  EXPECT_EQ(RunUpdater(location, "no\n"), 0);
  const uint32_t dwTook = platform::GetTickCount() - dwGone;
  killer.join();
  std::printf("the retry prompt came %.1f s after the server ended\n", dwTook / 1000.0);
  EXPECT_LT(dwTook, 20000u);
  const std::string output = Output();
  EXPECT_NE(output.find("[tips] Download package failed, Retry it?"), std::string::npos) << output;
  int nLines = 0;
  for (size_t at = 0; (at = output.find("Downloaded:", at)) != std::string::npos; ++at) ++nLines;
  EXPECT_LE(nLines, 3 + 25) << output;
  const std::string log = tools::ReadWholeFile(folder + "/updater/qarnAutoLog.log");
  EXPECT_NE(log.find("given up: the server has gone away"), std::string::npos) << log;
}

TEST_F(UpdaterTest, OptionsAreAnsweredWithNothingTouched) {
  platform::RemoveTree(folder + "/home");
  platform::CreateDirectory(folder + "/home");
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
    platform::SetEnvironmentVariable(name, folder + "/home/" + name);
  }
  const std::vector<std::string> updaterBefore = TreeOf(folder + "/updater");
  struct Case {
    std::string option;
    int nCode;
    std::string expected;
  };
  for (const Case& c : {Case{"--help", 0, "Usage: qarnauto [URL$SUFFIX$NAME]"},
                        Case{"-h", 0, "Usage: qarnauto [URL$SUFFIX$NAME]"},
                        Case{"--version", 0, "qarnauto "},
                        Case{"-V", 0, "qarnauto "},
                        Case{"--frobnicate", 2, "qarnauto: unknown option \"--frobnicate\""},
                        Case{"-x$EN$Name", 2, "qarnauto: unknown option \"-x$EN$Name\""}}) {
    EXPECT_EQ(RunUpdater(c.option, ""), c.nCode) << c.option;
    EXPECT_EQ(Output().rfind(c.expected, 0), 0u) << c.option << ": " << Output();
    EXPECT_EQ(TreeOf(folder + "/home"), std::vector<std::string>{}) << c.option;
    EXPECT_EQ(TreeOf(folder + "/updater"), updaterBefore) << c.option;
  }
  EXPECT_NE(Output().find("QARNAUTO_DEBUG_LOG"), std::string::npos);
  for (const char* name : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
    platform::SetEnvironmentVariable(name, tools::TestFolder() + "/home");
  }
  platform::SetEnvironmentVariable("XDG_RUNTIME_DIR", tools::TestFolder() + "/run");
}

TEST_F(UpdaterTest, ProgressOnANarrowTerminalStaysOnOneLine) {
  const std::string package = MakePackage(folder);
  // Slow enough for several reports.
  CScriptServer server([&](CScriptConnection& c) { tools::ServeContent(c, package, 100000); });
  platform::CFile master, slave;
  ASSERT_TRUE(tools::OpenPseudoTerminal(50, &master, &slave));
  tools::WriteWholeFile(folder + "/answers", "");
  platform::CFile in(platform::OpenFile(folder + "/answers", platform::kFileRead,
                                        platform::FileDisposition::kOpenExisting));
  const platform::ProcessId pid = platform::StartProcessWithStdio(
      exe, {exe, server.Url("/qarn") + "$EN$Narrow"}, "", {in.Get(), {}, slave.Get()});
  in.Close();
  slave.Close();
  std::string shown;
  while (tools::ReadAvailable(master.Get(), 20000, &shown)) {
  }
  EXPECT_EQ(platform::WaitProcess(pid), 0);
  int nReports = 0;
  size_t at = 0;
  while ((at = shown.find("\r[", at)) != std::string::npos) {
    ++at;
    const size_t end = shown.find_first_of("\r\n", at);
    std::string report = shown.substr(at, end - at);
    const size_t clear = report.find("\033[K");
    if (clear != std::string::npos) report.erase(clear);
    EXPECT_LE(report.size(), 49u) << report;
    ++nReports;
  }
  EXPECT_GE(nReports, 1) << shown;
}

TEST_F(UpdaterTest, SecondInstanceEndsAtOnce) {
  CScriptServer silent([](CScriptConnection& c) { c.StaySilent(); });
  tools::WriteWholeFile(folder + "/answers", "");
  const platform::ProcessId first =
      platform::StartProcess(exe, {exe, silent.Url("/qarn") + "$EN$"}, "");
  platform::Sleep(1500);
  const uint32_t dwStart = platform::GetTickCount();
  EXPECT_EQ(RunUpdater(silent.Url("/qarn") + "$EN$", ""), 0);
  EXPECT_LT(platform::GetTickCount() - dwStart, 5000u);
  EXPECT_EQ(Output(), "qarnauto is already running\n");
  platform::TerminateProcess(first);
  platform::WaitProcess(first);
}

}  // namespace
