#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine_log.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/posix/wine_posix.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "platform/system.h"
#include "platform/text.h"
#include "tools/test_env.h"
#include "tools/test_support.h"
#include "tools/wine_support.h"
#include "ui/language_texts.h"
#include "update/install_location.h"
#include "update/launch_settings.h"
#include "update/process_control.h"

namespace {

std::string WriteScript(const std::string& path, const std::string& body) {
  tools::WriteWholeFile(path, "#!/bin/sh\n" + body);
  platform::MarkFile(path, platform::FileMark::kExecutable);
  return path;
}

class ClientLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tools::TestFolder() + "/launch-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectory(folder);
    install = folder + "/My Client";
    platform::CreateDirectory(install);
    installDir = platform::Utf8ToUtf16(install);
    LoadLanguageTexts(3);
    tools::DeleteRunLog();
    path = platform::GetEnvironmentVariable("PATH");
  }
  void TearDown() override {
    platform::SetEnvironmentVariable("PATH", path);
    platform::UnsetEnvironmentVariable("QARNAUTO_WINE");
    platform::UnsetEnvironmentVariable("WINEPREFIX");
    for (platform::ProcessId pid : started) {
      platform::TerminateProcess(pid);
      platform::WaitProcess(pid);
    }
  }
  // Starts the client where it must be refused: 0, one prompt, answered;
  // what the terminal showed.
  std::string LaunchRefused(int* pPrompts) {
    env.answers = [pPrompts](std::string* line) {
      ++*pPrompts;
      *line = "";
      return true;
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(LaunchClient(installDir), 0);
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(*pPrompts, 1);
    return shown;
  }
  // Everything the run log says, one string.
  std::string RunLog() {
    std::string all;
    for (const std::string& note : tools::RunLogTexts()) all += note + "\n";
    return all;
  }
  std::string folder, install, path;
  std::u16string installDir;
  std::vector<platform::ProcessId> started;
  tools::CTestEnv env;
};

TEST_F(ClientLaunchTest, ARealWindowsClientIsKnownForOne) {
  if (std::string(WIN_CLIENT).empty()) GTEST_SKIP() << "no mingw-w64";
  EXPECT_EQ(platform::ClassifyProgram(WIN_CLIENT), platform::ProgramKind::kWindows64);
}

TEST_F(ClientLaunchTest, AWindowsClientStartsThroughTheChosenWine) {
  tools::WriteWholeFile(install + "/play.exe", tools::PeHeader(0x8664));
  const std::string record = folder + "/wine-args.txt";
  WriteScript(folder + "/fake-wine",
              "printf '%s|' \"$@\" > \"" + record + ".tmp\"\npwd >> \"" + record + ".tmp\"\nmv \"" +
                  record + ".tmp\" \"" + record + "\"\n");
  platform::SetEnvironmentVariable("QARNAUTO_WINE", folder + "/fake-wine");
  EXPECT_EQ(LaunchClient(installDir), 1);
  EXPECT_EQ(tools::WaitForFile(record, 5000), install + "/play.exe|blacknull|" + install + "\n");
  EXPECT_EQ(RunLog(), "");

  // A 32-bit client: started all the same, with a note when no Wine here
  // runs 32-bit programs; refused in words where the kernel runs none.
  platform::DeleteFile(record);
  tools::WriteWholeFile(install + "/play.exe", tools::PeHeader(0x014C));
  const bool bLoader = platform::WineRuns32Bit(folder + "/fake-wine");
  if (bLoader && !tools::MachineRuns32Bit()) {
    EXPECT_EQ(LaunchClient(installDir), 0);
    EXPECT_NE(RunLog().find("kernel runs no 32-bit program"), std::string::npos) << RunLog();
    return;
  }
  EXPECT_EQ(LaunchClient(installDir), 1);
  EXPECT_EQ(tools::WaitForFile(record, 5000), install + "/play.exe|blacknull|" + install + "\n");
  EXPECT_EQ(RunLog().find("needs a Wine that runs 32-bit programs") != std::string::npos, !bLoader);
}

// A kernel that refuses the 32-bit loader's format: the player reads why,
// not Wine's "Exec format error", and nothing claims a start. The loader
// here is one no kernel loads, so every machine refuses it the same way.
TEST_F(ClientLaunchTest, AKernelThatRunsNo32BitProgramIsNamedToThePlayer) {
  tools::WriteWholeFile(install + "/play.exe", tools::PeHeader(0x014C));
  const std::string record = folder + "/wine-args.txt";
  WriteScript(folder + "/fake-wine", "echo started > \"" + record + "\"\n");
  // An ELF of 32-bit class with nothing after its identification.
  tools::WriteWholeFile(folder + "/wine", std::string("\x7F" "ELF\x01\x01\x01", 7) + std::string(9, '\0'));
  ASSERT_TRUE(platform::MarkFile(folder + "/wine", platform::FileMark::kExecutable));
  platform::SetEnvironmentVariable("QARNAUTO_WINE", folder + "/fake-wine");
  int prompts = 0;
  const std::string shown = LaunchRefused(&prompts);
  EXPECT_NE(shown.find("[tips] The game client could not be started: it is a 32-bit Windows program, "
                       "and this system's kernel runs no 32-bit program"),
            std::string::npos)
      << shown;
  EXPECT_EQ(shown.find("Exec format error"), std::string::npos) << shown;
  EXPECT_NE(RunLog().find("client not started: it is a 32-bit Windows program"), std::string::npos);
  EXPECT_FALSE(platform::FileExists(record));

  // A loader that runs passes the check: the client starts through Wine
  // (unless the system's own 32-bit loader is there and cannot run).
  WriteScript(folder + "/wine", "exit 0\n");
  if (tools::MachineRuns32Bit() || !platform::WineRuns32Bit("")) {
    EXPECT_EQ(LaunchClient(installDir), 1);
  }
}

TEST_F(ClientLaunchTest, WithoutWineThePlayerIsToldAndNothingClaimsAStart) {
  tools::WriteWholeFile(install + "/play.exe", tools::PeHeader(0x8664));
  platform::CreateDirectory(folder + "/empty-bin");
  platform::SetEnvironmentVariable("PATH", folder + "/empty-bin");
  int prompts = 0;
  const std::string shown = LaunchRefused(&prompts);
  EXPECT_NE(shown.find("[tips] The game client could not be started: it is a Windows program and "
                       "no Wine was found"),
            std::string::npos)
      << shown;
  EXPECT_NE(RunLog().find("client not started: it is a Windows program and no Wine was found"),
            std::string::npos);

  // A chosen Wine that is not there counts as none.
  tools::DeleteRunLog();
  prompts = 0;
  platform::SetEnvironmentVariable("QARNAUTO_WINE", folder + "/no-such-wine");
  testing::internal::CaptureStderr();
  EXPECT_EQ(LaunchClient(installDir), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(prompts, 1);
  EXPECT_NE(RunLog().find("no Wine was found"), std::string::npos);

  // A missing client says so too.
  tools::DeleteRunLog();
  platform::DeleteFile(install + "/play.exe");
  testing::internal::CaptureStderr();
  EXPECT_EQ(LaunchClient(installDir), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_NE(RunLog().find("play.exe is missing"), std::string::npos);
}

TEST_F(ClientLaunchTest, TheRealClientRunsUnderWineInTheInstallFolder) {
  if (!tools::WineAndClientAvailable(WIN_CLIENT)) GTEST_SKIP() << "no Wine or mingw-w64";
  tools::UsePrivateWinePrefix();
  tools::WriteWholeFile(install + "/play.exe", tools::ReadWholeFile(WIN_CLIENT));
  EXPECT_EQ(LaunchClient(installDir), 1);
  // The first start of a prefix makes it, which takes a while.
  EXPECT_EQ(tools::WaitForFile(install + "/started.txt", 90000),
            "blacknull " + tools::WindowsPathOf(install) + "\n");
}

// The game's own client is a 32-bit program: on a machine whose Wine runs
// those it starts like any other.
// Where the kernel runs no 32-bit program, the same client is refused in
// words, or noted as needing a 32-bit Wine where none is installed.
TEST_F(ClientLaunchTest, ARealThirtyTwoBitClientRunsUnderWine) {
  if (!tools::WineAndClientAvailable(WIN_CLIENT32)) GTEST_SKIP() << "no Wine or mingw-w64 (i686)";
  tools::UsePrivateWinePrefix();
  tools::WriteWholeFile(install + "/play.exe", tools::ReadWholeFile(WIN_CLIENT32));
  ASSERT_EQ(platform::ClassifyProgram(install + "/play.exe"), platform::ProgramKind::kWindows32);
  const bool bLoader = platform::WineRuns32Bit(platform::FindWine());
  if (!tools::MachineRuns32Bit()) {
    testing::internal::CaptureStderr();
    const int32_t nStarted = LaunchClient(installDir);
    testing::internal::GetCapturedStderr();
    if (bLoader) {
      EXPECT_EQ(nStarted, 0);
      EXPECT_NE(RunLog().find("kernel runs no 32-bit program"), std::string::npos) << RunLog();
    } else {
      EXPECT_NE(RunLog().find("needs a Wine that runs 32-bit programs"), std::string::npos) << RunLog();
    }
    return;
  }
  if (!bLoader) GTEST_SKIP() << "this Wine runs no 32-bit programs";
  EXPECT_EQ(LaunchClient(installDir), 1);
  EXPECT_EQ(tools::WaitForFile(install + "/started.txt", 90000),
            "blacknull " + tools::WindowsPathOf(install) + "\n");
  EXPECT_EQ(RunLog().find("needs a Wine that runs 32-bit programs"), std::string::npos);
}

TEST_F(ClientLaunchTest, TheLauncherRunsAWindowsClientThroughWine) {
  if (!tools::WineAndClientAvailable(WIN_CLIENT)) GTEST_SKIP() << "no Wine or mingw-w64";
  tools::UsePrivateWinePrefix();
  tools::WriteWholeFile(install + "/play.exe", tools::ReadWholeFile(WIN_CLIENT));
  const std::string desktop = platform::GetEnvironmentVariable("HOME") + "/Desktop";
  platform::CreateDirectory(desktop);
  UpdateSettings settings;
  settings.ShortcutName = u"Quill $game";
  settings.InstallDir = installDir;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(CreateDesktopShortcut(settings));
  testing::internal::GetCapturedStdout();
  const std::string entry = tools::ReadWholeFile(desktop + "/Quill $game.desktop");
  std::string exec, workPath;
  for (size_t at = 0; at < entry.size();) {
    const size_t end = entry.find('\n', at);
    const std::string line = entry.substr(at, end - at);
    if (line.rfind("Exec=", 0) == 0) exec = line.substr(5);
    if (line.rfind("Path=", 0) == 0) workPath = line.substr(5);
    at = end == std::string::npos ? entry.size() : end + 1;
  }
  const std::vector<std::string> args = tools::SplitDesktopExec(exec);
  ASSERT_EQ(args.size(), 4u) << exec;
  EXPECT_EQ(args[0], "env");
  EXPECT_EQ(args[1], "WINEPREFIX=" + tools::TestFolder() + "/wineprefix");
  EXPECT_EQ(args[2], platform::FindProgramOnPath("wine"));
  EXPECT_EQ(args[3], install + "/play.exe");
  EXPECT_EQ(workPath, install);
  // Run as a desktop would: the command in the entry's Path.
  const platform::ProcessId pid =
      platform::StartProcess(platform::FindProgramOnPath(args[0]), args, workPath);
  EXPECT_EQ(platform::WaitProcess(pid), 0);
  EXPECT_EQ(tools::WaitForFile(install + "/started.txt", 90000),
            tools::WindowsPathOf(install) + "\n");
}

TEST_F(ClientLaunchTest, ClientsUnderWineAreFoundAndEndedByName) {
  if (!tools::WineAndClientAvailable(WIN_CLIENT)) GTEST_SKIP() << "no Wine or mingw-w64";
  tools::UsePrivateWinePrefix();
  const std::string wine = platform::FindProgramOnPath("wine");
  // The prefix is made by one start first: three first starts at once
  // would race to make it.
  tools::WriteWholeFile(install + "/first.exe", tools::ReadWholeFile(WIN_CLIENT));
  ASSERT_EQ(platform::WaitProcess(platform::StartProcess(wine, {wine, install + "/first.exe"}, install)),
            0);
  for (const char* name : {"qarn.exe", "notqarn.exe", "P2P.exe"}) {
    tools::WriteWholeFile(install + "/" + name, tools::ReadWholeFile(WIN_CLIENT));
    // Started by a Windows path, as a Windows launcher would. Which
    // process ends up carrying the name depends on the Wine at hand (with
    // 32-bit Wine a launcher starts it and goes away), so the test knows
    // the clients only by name, as the updater does.
    started.push_back(platform::StartProcess(
        wine, {wine, tools::WindowsPathOf(install + "/" + name), "wait"}, install));
  }
  const auto named = [](const std::string& name) {
    std::vector<platform::ProcessId> pids;
    for (const platform::ProcessEntry& p : platform::SnapshotProcesses()) {
      if (p.exeName == name) pids.push_back(p.pid);
    }
    return pids;
  };
  // Whatever runs at the end is ended, the clients included.
  struct Reaper {
    std::function<std::vector<platform::ProcessId>(const std::string&)> named;
    ~Reaper() {
      for (const char* name : {"qarn.exe", "notqarn.exe", "P2P.exe"}) {
        for (platform::ProcessId pid : named(name)) platform::TerminateProcess(pid);
      }
    }
  } reaper{named};
  const auto waitUntil = [](const std::function<bool()>& done, uint32_t dwMilliseconds) {
    const uint32_t dwStart = platform::GetTickCount();
    while (!done() && platform::GetTickCount() - dwStart < dwMilliseconds) platform::Sleep(100);
    return done();
  };
  ASSERT_TRUE(waitUntil(
      [&] {
        return named("qarn.exe").size() == 1 && named("notqarn.exe").size() == 1 &&
               named("P2P.exe").size() == 1;
      },
      90000))
      << "clients seen: " << named("qarn.exe").size() << " qarn.exe, " << named("notqarn.exe").size()
      << " notqarn.exe, " << named("P2P.exe").size() << " P2P.exe";
  const std::vector<platform::ProcessId> other = named("notqarn.exe");

  int prompts = 0;
  env.answers = [&](std::string* line) {
    ++prompts;
    *line = "ok";
    return true;
  };
  EXPECT_EQ(CloseRunningClients(u"QARN.EXE"), 1);
  EXPECT_EQ(prompts, 1);
  TerminateP2pProcess();
  EXPECT_TRUE(waitUntil([&] { return named("qarn.exe").empty() && named("P2P.exe").empty(); }, 10000))
      << "a client outlived its ending";
  EXPECT_EQ(named("notqarn.exe"), other) << "a client of another name was ended";
}

}  // namespace
