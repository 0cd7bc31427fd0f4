// The program-start service: what kind a program is, how this system starts
// it (a Windows program through a stand-in Wine), the pipes a child's output
// arrives on, and the launchers a player starts it from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/launcher.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "tools/test_support.h"
#include "tools/wine_support.h"

namespace {

TEST(ProgramKindTest, PeFilesAreToldFromEverythingElse) {
  const std::string folder = tools::TestFolder();
  const auto classify = [&](const std::string& bytes) {
    tools::WriteWholeFile(folder + "/probe.exe", bytes);
    return platform::ClassifyProgram(folder + "/probe.exe");
  };
  EXPECT_EQ(classify(tools::PeHeader(0x8664)), platform::ProgramKind::kWindows64);
  EXPECT_EQ(classify(tools::PeHeader(0xAA64)), platform::ProgramKind::kWindows64);
  EXPECT_EQ(classify(tools::PeHeader(0x014C)), platform::ProgramKind::kWindows32);
  EXPECT_EQ(classify(tools::PeHeader(0x014C, 0x200)), platform::ProgramKind::kWindows32);
  // An "MZ" without the signature, or an e_lfanew that points nowhere.
  std::string noSignature = tools::PeHeader(0x8664);
  noSignature[0x40] = 'X';
  EXPECT_EQ(classify(noSignature), platform::ProgramKind::kNative);
  std::string farAway = tools::PeHeader(0x8664).substr(0, 64);
  farAway.replace(0x3C, 4, std::string("\xF0\xFF\xFF\x7F", 4));
  EXPECT_EQ(classify(farAway), platform::ProgramKind::kNative);
  EXPECT_EQ(classify(tools::PeHeader(0x8664).substr(0, 0x42)), platform::ProgramKind::kNative);
  EXPECT_EQ(classify("MZ"), platform::ProgramKind::kNative);
  EXPECT_EQ(classify("#!/bin/sh\necho hi\n"), platform::ProgramKind::kNative);
  EXPECT_EQ(classify(""), platform::ProgramKind::kNative);
  EXPECT_EQ(platform::ClassifyProgram(folder + "/none.exe"), platform::ProgramKind::kMissing);
}

class ProgramStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tools::TestFolder() + "/start-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectories(folder + "/My Client");
    // A Wine that writes down how it was started and where.
    wine = folder + "/fake-wine";
    tools::WriteWholeFile(
        wine,
        "#!/bin/sh\nprintf '%s|' \"$@\" > \"$0.args.tmp\"\npwd >> \"$0.args.tmp\"\n"
        "mv \"$0.args.tmp\" \"$0.args\"\n");
    platform::MarkFile(wine, platform::FileMark::kExecutable);
    platform::SetEnvironmentVariable("QARNAUTO_WINE", wine);
  }
  void TearDown() override { platform::UnsetEnvironmentVariable("QARNAUTO_WINE"); }
  std::string folder, wine;
};

TEST_F(ProgramStartTest, AWindowsProgramStartsThroughWineInItsFolder) {
  const std::string client = folder + "/My Client/play.exe";
  tools::WriteWholeFile(client, tools::PeHeader(0x8664));
  std::string note = "stale";
  platform::Outcome why;
  const platform::ProcessId pid =
      platform::StartProgram(client, {"blacknull"}, folder + "/My Client", &note, &why);
  ASSERT_NE(pid, platform::kInvalidProcess) << why.text();
  EXPECT_EQ(note, "");
  EXPECT_EQ(tools::WaitForFile(wine + ".args", 10000),
            client + "|blacknull|" + folder + "/My Client\n");

  // A native program is its own command.
  std::vector<std::string> command;
  tools::WriteWholeFile(folder + "/native", "#!/bin/sh\n");
  ASSERT_TRUE(platform::ProgramCommand(folder + "/native", {"a b"}, &command, &note));
  EXPECT_EQ(command, (std::vector<std::string>{folder + "/native", "a b"}));
}

TEST_F(ProgramStartTest, WhatCannotStartSaysWhy) {
  std::string note;
  platform::Outcome why;
  EXPECT_EQ(platform::StartProgram(folder + "/none.exe", {}, folder, &note, &why),
            platform::kInvalidProcess);
  EXPECT_EQ(why.text(), folder + "/none.exe is missing");
  // A chosen Wine that is not there counts as none.
  tools::WriteWholeFile(folder + "/play.exe", tools::PeHeader(0x014C));
  platform::SetEnvironmentVariable("QARNAUTO_WINE", folder + "/no-such-wine");
  EXPECT_EQ(platform::StartProgram(folder + "/play.exe", {}, folder, &note, &why),
            platform::kInvalidProcess);
  EXPECT_NE(why.text().find("no Wine was found"), std::string::npos) << why.text();
  // A program the system cannot run at all: the system's reason.
  tools::WriteWholeFile(folder + "/plain", "not a program\n");
  EXPECT_EQ(platform::StartProgram(folder + "/plain", {}, folder, &note, &why),
            platform::kInvalidProcess);
  EXPECT_EQ(why.text().rfind(folder + "/plain: ", 0), 0u) << why.text();
}

// The self-update program's way of saying it is done: "Quit" and a zero
// byte on its output, read from our end of the pipe.
TEST_F(ProgramStartTest, AChildsPipeIsReadToQuitAndToItsEnd) {
  platform::Pipe toChild, fromChild;
  ASSERT_TRUE(platform::CreatePipe(&toChild));
  ASSERT_TRUE(platform::CreatePipe(&fromChild));
  const std::string program = folder + "/Update.exe";
  tools::WriteWholeFile(program, "#!/bin/sh\nprintf 'Quit\\000'\n");
  platform::MarkFile(program, platform::FileMark::kExecutable);
  std::string note;
  const platform::ProcessId pid = platform::StartProgramWithStdio(
      program, {}, {toChild.readEnd.Get(), fromChild.writeEnd.Get(), fromChild.writeEnd.Get()},
      &note);
  ASSERT_NE(pid, platform::kInvalidProcess);
  // Our copies of the child's ends go, so its end of output is ours too.
  toChild.readEnd.Close();
  fromChild.writeEnd.Close();
  char buffer[8] = {};
  size_t got = 0;
  for (int64_t n;
       got < 5 && (n = platform::ReadPipe(fromChild.readEnd.Get(), buffer + got, 5 - got)) > 0;) {
    got += static_cast<size_t>(n);
  }
  EXPECT_EQ(std::string(buffer, got), std::string("Quit\0", 5));
  EXPECT_EQ(platform::ReadPipe(fromChild.readEnd.Get(), buffer, sizeof buffer), 0);
  EXPECT_EQ(platform::WaitProcess(pid), 0);
}

TEST_F(ProgramStartTest, LaunchersStartTheProgramAsThisSystemDoes) {
  const std::string home = platform::GetEnvironmentVariable("HOME");
  platform::CreateDirectories(home + "/Desktop");
  const std::string client = folder + "/My Client/play.exe";
  tools::WriteWholeFile(client, tools::PeHeader(0x8664));
  const platform::LauncherResult result =
      platform::WriteLaunchers({"Quill $game", client, folder + "/My Client", "a game"});
  EXPECT_TRUE(result.bDesktop);
  EXPECT_EQ(result.notes, std::vector<std::string>{});
  const std::string entry = tools::ReadWholeFile(home + "/Desktop/Quill $game.desktop");
  std::string exec;
  const size_t at = entry.find("\nExec=");
  ASSERT_NE(at, std::string::npos) << entry;
  exec = entry.substr(at + 6, entry.find('\n', at + 1) - at - 6);
  // What a desktop runs: the same Wine, the same program.
  EXPECT_EQ(tools::SplitDesktopExec(exec), (std::vector<std::string>{wine, client}));
  EXPECT_NE(entry.find("\nPath=" + folder + "/My Client\n"), std::string::npos);
  EXPECT_EQ(tools::ReadWholeFile(platform::GetEnvironmentVariable("XDG_DATA_HOME") +
                                 "/applications/Quill $game.desktop"),
            entry);

  // A name that would lead out of the launcher folders writes nothing.
  const platform::LauncherResult refused =
      platform::WriteLaunchers({"../escape", client, folder, ""});
  EXPECT_FALSE(refused.bDesktop);
  ASSERT_EQ(refused.notes.size(), 1u);
  EXPECT_FALSE(platform::FileExists(home + "/escape.desktop"));
}

}  // namespace
