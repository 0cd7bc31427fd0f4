#include "platform/crash_dump.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/process.h"
#include "tools/test_support.h"

namespace {

uint32_t U32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}

class CrashDumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tools::TestFolder() + "/crash-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectory(folder);
  }
  int Crash(const std::string& how) {
    return platform::WaitProcess(platform::StartProcess(CRASH_PROBE, {CRASH_PROBE, how}, folder));
  }
  std::string folder;
};

TEST_F(CrashDumpTest, CrashWritesAMinidumpAndEndsQuietly) {
  tools::WriteWholeFile(folder + "/ValdrisStartup.dmp", "an older dump");
  EXPECT_EQ(Crash("segv"), 128 + 11);
  const std::string dump = tools::ReadWholeFile(folder + "/ValdrisStartup.dmp");
  ASSERT_GE(dump.size(), 32u);
  EXPECT_EQ(dump.substr(0, 4), "MDMP");
  const uint32_t nStreams = U32(dump, 8);
  const uint32_t directory = U32(dump, 12);
  ASSERT_LE(directory + nStreams * 12, dump.size());
  std::vector<uint32_t> types;
  for (uint32_t i = 0; i < nStreams; ++i) {
    types.push_back(U32(dump, directory + i * 12));
    EXPECT_LE(U32(dump, directory + i * 12 + 8) + U32(dump, directory + i * 12 + 4), dump.size());
  }
  for (uint32_t wanted : {3u, 4u, 6u, 7u}) {  // threads, modules, exception, system
    EXPECT_NE(std::find(types.begin(), types.end(), wanted), types.end()) << wanted;
  }
  // All three threads of the probe, each with a context.
  const size_t threadsAt = std::find(types.begin(), types.end(), 3u) - types.begin();
  EXPECT_EQ(U32(dump, U32(dump, directory + threadsAt * 12 + 8)), 3u);
  // The exception stream names the signal.
  const size_t at = std::find(types.begin(), types.end(), 6u) - types.begin();
  EXPECT_EQ(U32(dump, U32(dump, directory + at * 12 + 8) + 8), 11u);

  EXPECT_EQ(Crash("abort"), 128 + 6);
  EXPECT_NE(tools::ReadWholeFile(folder + "/ValdrisStartup.dmp"), dump) << "not replaced";
}

TEST_F(CrashDumpTest, LldbLoadsTheDumpAndShowsTheCrashingThread) {
  if (!platform::FileExists("/usr/bin/lldb")) GTEST_SKIP() << "lldb is not installed";
  EXPECT_EQ(Crash("segv"), 128 + 11);
  const std::string out = folder + "/lldb.txt";
  tools::WriteWholeFile(folder + "/lldb.sh",
                        "#!/bin/sh\nexec /usr/bin/lldb -b -c ValdrisStartup.dmp " CRASH_PROBE
                        " -o 'thread list' -o bt > lldb.txt 2>&1\n");
  platform::MarkFile(folder + "/lldb.sh", platform::FileMark::kExecutable);
  EXPECT_EQ(platform::WaitProcess(platform::StartProcess(folder + "/lldb.sh", {"lldb.sh"}, folder)), 0);
  const std::string text = tools::ReadWholeFile(out);
  EXPECT_NE(text.find("stop reason = signal SIGSEGV"), std::string::npos) << text;
  EXPECT_NE(text.find("CrashHere"), std::string::npos) << text;
  EXPECT_NE(text.find("thread #3"), std::string::npos) << text;
}

TEST_F(CrashDumpTest, AStackOverflowOnAWorkerThreadStillLeavesADump) {
  EXPECT_EQ(Crash("overflow"), 128 + 11);
  const std::string dump = tools::ReadWholeFile(folder + "/ValdrisStartup.dmp");
  ASSERT_GE(dump.size(), 32u);
  EXPECT_EQ(dump.substr(0, 4), "MDMP");
  if (!platform::FileExists("/usr/bin/lldb")) return;
  tools::WriteWholeFile(folder + "/lldb.sh",
                        "#!/bin/sh\nexec /usr/bin/lldb -b -c ValdrisStartup.dmp " CRASH_PROBE
                        " -o 'thread list' > lldb.txt 2>&1\n");
  platform::MarkFile(folder + "/lldb.sh", platform::FileMark::kExecutable);
  EXPECT_EQ(platform::WaitProcess(platform::StartProcess(folder + "/lldb.sh", {"lldb.sh"}, folder)), 0);
  const std::string text = tools::ReadWholeFile(folder + "/lldb.txt");
  EXPECT_NE(text.find("stop reason = signal SIGSEGV"), std::string::npos) << text;
  EXPECT_NE(text.find("OverflowHere"), std::string::npos) << text;
}

}  // namespace
