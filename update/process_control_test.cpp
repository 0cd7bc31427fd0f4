#include "update/process_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tools/test_env.h"
#include "tools/test_support.h"
#include "ui/language_texts.h"
#include "update/install_location.h"

namespace {

// Copies a program under another name, so the process table shows that name.
std::string Copy(const std::string& from, const std::string& to) {
  tools::WriteWholeFile(to, tools::ReadWholeFile(from));
  platform::MarkFile(to, platform::FileMark::kExecutable);
  return to;
}

std::string WriteScript(const std::string& path, const std::string& body) {
  tools::WriteWholeFile(path, "#!/bin/sh\n" + body);
  platform::MarkFile(path, platform::FileMark::kExecutable);
  return path;
}

bool Alive(platform::ProcessId pid) {
  for (const auto& p : platform::SnapshotProcesses()) {
    if (p.pid == pid) return true;
  }
  return false;
}

class ProcessControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tools::TestFolder() + "/proc-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectory(folder);
    LoadLanguageTexts(3);
  }
  void TearDown() override {
    for (platform::ProcessId pid : started) {
      platform::TerminateProcess(pid);
      platform::WaitProcess(pid);
    }
  }
  platform::ProcessId Run(const std::string& program, const std::vector<std::string>& args) {
    platform::ProcessId pid = platform::StartProcess(program, args, "");
    started.push_back(pid);
    return pid;
  }
  void Answer(const std::string& answer) {
    env.answers = [this, answer](std::string* line) {
      ++prompts;
      *line = answer;
      return true;
    };
  }
  std::string folder;
  std::vector<platform::ProcessId> started;
  int prompts = 0;
  tools::CTestEnv env;
};

TEST_F(ProcessControlTest, RunningClientsAreEndedAfterOnePrompt) {
  const std::string client = Copy("/bin/sleep", folder + "/qarn.exe");
  const platform::ProcessId a = Run(client, {client, "30"});
  const platform::ProcessId b = Run(client, {client, "30"});
  platform::Sleep(100);
  Answer("OK");
  EXPECT_EQ(CloseRunningClients(u"QARN.EXE"), 1);
  EXPECT_EQ(prompts, 1);
  // SIGKILL, as termination here is.
  EXPECT_EQ(platform::WaitProcess(a), 128 + 9);
  EXPECT_EQ(platform::WaitProcess(b), 128 + 9);
  started.clear();
}

TEST_F(ProcessControlTest, RefusalEndsNothing) {
  const std::string client = Copy("/bin/sleep", folder + "/Qarn.exe");
  const platform::ProcessId a = Run(client, {client, "30"});
  platform::Sleep(100);
  Answer("no");
  EXPECT_EQ(CloseRunningClients(u"qarn.exe"), -1);
  EXPECT_TRUE(Alive(a));
  // End of input counts as Cancel too.
  env.answers = [](std::string*) { return false; };
  EXPECT_EQ(CloseRunningClients(u"qarn.exe"), -1);
  EXPECT_TRUE(Alive(a));
}

TEST_F(ProcessControlTest, TestsSeeOnlyTheirOwnChildren) {
  const std::string client = Copy("/bin/sleep", folder + "/qarn.exe");
  const platform::ProcessId child = Run(client, {client, "30"});
  platform::Sleep(100);
  auto has = [](platform::ProcessId pid) {
    for (const auto& p : platform::SnapshotProcesses()) {
      if (p.pid == pid) return true;
    }
    return false;
  };
  EXPECT_TRUE(has(child));
  EXPECT_FALSE(has(platform::GetCurrentProcessId()));
  const std::string scope = platform::GetEnvironmentVariable(platform::kProcessScopeVariable);
  platform::UnsetEnvironmentVariable(platform::kProcessScopeVariable);
  EXPECT_TRUE(has(platform::GetCurrentProcessId()));
  platform::SetEnvironmentVariable(platform::kProcessScopeVariable, scope);
}

TEST_F(ProcessControlTest, NoClientRunningNeedsNoPrompt) {
  Answer("y");
  EXPECT_EQ(CloseRunningClients(u"no-such-client.exe"), 1);
  EXPECT_EQ(prompts, 0);
}

TEST_F(ProcessControlTest, OnlyTheFirstCompanionIsEnded) {
  const std::string p2p = Copy("/bin/sleep", folder + "/P2P.EXE");
  const platform::ProcessId a = Run(p2p, {p2p, "30"});
  platform::Sleep(50);
  const platform::ProcessId b = Run(p2p, {p2p, "30"});
  platform::Sleep(100);
  TerminateP2pProcess();
  // SIGKILL takes effect soon, not at once: wait for one of them to go.
  const uint32_t dwStart = platform::GetTickCount();
  while (Alive(a) && Alive(b) && platform::GetTickCount() - dwStart < 5000) platform::Sleep(10);
  platform::Sleep(200);  // a second, wrong kill would have landed by now
  const bool aAlive = Alive(a), bAlive = Alive(b);
  EXPECT_NE(aAlive, bAlive) << "exactly one companion must have been ended";
}

TEST_F(ProcessControlTest, ClientStartsInTheInstallFolderWithItsArgument) {
  const std::string install = folder + "/My Client";
  platform::CreateDirectory(install);
  WriteScript(install + "/play.exe", "echo \"$1\" > args.txt\npwd >> args.txt\n");
  EXPECT_EQ(LaunchClient(platform::Utf8ToUtf16(install + "/")), 1);
  std::string recorded;
  for (int i = 0; i < 100 && recorded.find('\n', recorded.find('\n') + 1) == std::string::npos; ++i) {
    platform::Sleep(20);
    recorded = tools::ReadWholeFile(install + "/args.txt");
  }
  EXPECT_EQ(recorded, "blacknull\n" + install + "\n");
}

TEST_F(ProcessControlTest, QuitFromTheSelfUpdateProgramEndsCompanionAndUpdater) {
  const std::string updater = Copy(SELF_UPDATE_PROBE, folder + "/qarnauto");
  WriteScript(folder + "/Update.exe", "touch started\nprintf 'Quit\\0'\nsleep 5\n");
  const std::string p2p = Copy("/bin/sleep", folder + "/p2p.exe");
  const platform::ProcessId companion = Run(p2p, {p2p, "30"});
  const platform::ProcessId pid = platform::StartProcess(updater, {updater, "http://u$EN$"}, folder);
  EXPECT_EQ(platform::WaitProcess(pid), 0);
  EXPECT_EQ(platform::WaitProcess(companion), 128 + 9);
  started.clear();
}

TEST_F(ProcessControlTest, WithoutArgumentsNoSelfUpdateProgramStarts) {
  const std::string updater = Copy(SELF_UPDATE_PROBE, folder + "/qarnauto");
  WriteScript(folder + "/Update.exe", "touch started\nprintf 'Quit\\0'\n");
  platform::SetEnvironmentVariable("PROBE_WAIT_MS", "300");
  const platform::ProcessId pid = platform::StartProcess(updater, {updater}, folder);
  EXPECT_EQ(platform::WaitProcess(pid), 3);
  platform::UnsetEnvironmentVariable("PROBE_WAIT_MS");
  EXPECT_FALSE(platform::FileExists(folder + "/started"));
}

TEST_F(ProcessControlTest, OtherOutputOfTheSelfUpdateProgramIsIgnored) {
  const std::string updater = Copy(SELF_UPDATE_PROBE, folder + "/qarnauto");
  WriteScript(folder + "/Update.exe", "echo checking for updates\nsleep 2\n");
  platform::SetEnvironmentVariable("PROBE_WAIT_MS", "1000");
  const platform::ProcessId pid = platform::StartProcess(updater, {updater, "x"}, folder);
  EXPECT_EQ(platform::WaitProcess(pid), 3);
  platform::UnsetEnvironmentVariable("PROBE_WAIT_MS");
}

// A Windows self-update program starts through the chosen Wine with the
// pipes as its standard handles: its "Quit" still ends the updater.
TEST_F(ProcessControlTest, AWindowsSelfUpdateProgramRunsThroughWineWithItsPipes) {
  const std::string updater = Copy(SELF_UPDATE_PROBE, folder + "/qarnauto");
  tools::WriteWholeFile(folder + "/Update.exe", tools::PeHeader(0x014C));
  // The stand-in Wine notes what it runs and speaks the program's part.
  WriteScript(folder + "/fake-wine", "echo \"$@\" > \"$(dirname \"$0\")/wine-args\"\nprintf 'Quit\\0'\nsleep 5\n");
  platform::SetEnvironmentVariable("QARNAUTO_WINE", folder + "/fake-wine");
  const std::string p2p = Copy("/bin/sleep", folder + "/p2p.exe");
  const platform::ProcessId companion = Run(p2p, {p2p, "30"});
  const platform::ProcessId pid = platform::StartProcess(updater, {updater, "http://u$EN$"}, folder);
  EXPECT_EQ(platform::WaitProcess(pid), 0);
  EXPECT_EQ(platform::WaitProcess(companion), 128 + 9);
  started.clear();
  EXPECT_EQ(tools::ReadWholeFile(folder + "/wine-args"), folder + "/Update.exe\n");

  // No Wine: the updater goes on, and the run log says why nothing started.
  platform::SetEnvironmentVariable("QARNAUTO_WINE", folder + "/no-such-wine");
  platform::SetEnvironmentVariable("PROBE_WAIT_MS", "300");
  tools::WriteWholeFile(folder + "/empty", "");
  platform::CFile in(platform::OpenFile(folder + "/empty", platform::kFileRead,
                                        platform::FileDisposition::kOpenExisting));
  platform::CFile out(platform::OpenFile(folder + "/output", platform::kFileWrite,
                                         platform::FileDisposition::kCreateAlways));
  const platform::ProcessId second = platform::StartProcessWithStdio(
      updater, {updater, "http://u$EN$"}, folder, {in.Get(), out.Get(), out.Get()});
  in.Close();
  out.Close();
  EXPECT_EQ(platform::WaitProcess(second), 3);
  platform::UnsetEnvironmentVariable("PROBE_WAIT_MS");
  platform::UnsetEnvironmentVariable("QARNAUTO_WINE");
  const std::string log = tools::ReadWholeFile(folder + "/qarnAutoLog.log");
  EXPECT_NE(log.find("Update.exe not started: it is a Windows program and no Wine was found"),
            std::string::npos)
      << log;
  EXPECT_NE(tools::ReadWholeFile(folder + "/output").find("no Wine was found"), std::string::npos);
}

}  // namespace
