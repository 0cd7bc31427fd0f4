// The shared engine library, loaded the way another program would load it.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>

#include "engine/nn_down.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/library.h"
#include "platform/message.h"
#include "platform/process.h"
#include "tools/http_script.h"
#include "tools/nginx_server.h"
#include "tools/test_support.h"

namespace {

TEST(SharedLibraryTest, ExportsTheEntryPointsAndNothingOfTheEngineInside) {
  platform::LibraryHandle hLibrary = platform::LoadLibrary(NNDOWN_LIBRARY);
  ASSERT_NE(hLibrary, nullptr);
  auto pfnStop = reinterpret_cast<decltype(&NN_Stop)>(platform::GetProcAddress(hLibrary, "NN_Stop"));
  auto pfnNN = reinterpret_cast<decltype(&NN_Down_nn)>(
      platform::GetProcAddress(hLibrary, "NN_Down_nn"));
  ASSERT_NE(pfnStop, nullptr);
  ASSERT_NE(pfnNN, nullptr);
  EXPECT_NE(platform::GetProcAddress(hLibrary, "NN_Down_n1"), nullptr);
  EXPECT_NE(platform::GetProcAddress(hLibrary, "NN_CreateNotifyTarget"), nullptr);
  EXPECT_NE(platform::GetProcAddress(hLibrary, "NN_DestroyNotifyTarget"), nullptr);
  // The library has an engine of its own: its registry knows no task.
  EXPECT_EQ(pfnStop(1), 0);
  EXPECT_EQ(pfnNN(nullptr, nullptr, 0, 1, 0), 0);
  EXPECT_EQ(platform::GetProcAddress(hLibrary, "_Z8JudgeDirPKc"), nullptr);
  EXPECT_EQ(platform::GetProcAddress(hLibrary, "g_downEngine"), nullptr);
  platform::FreeLibrary(hLibrary);
}

// A program using the library keeps its working folder to itself: the
// library's notes go to the user's state folder, or to the file the
// program names.
TEST(SharedLibraryTest, RunLogGoesToTheStateFolderNotTheCallersFolder) {
  if (!tools::NginxAvailable()) GTEST_SKIP() << "nginx is not installed";
  const std::string root = tools::TestFolder() + "/runlog-root";
  platform::CreateDirectory(root);
  tools::CNginxServer nginx(root);
  ASSERT_TRUE(nginx.Started());
  const std::string state = tools::TestFolder() + "/runlog-state";
  const std::string caller = tools::TestFolder() + "/runlog-caller";
  platform::CreateDirectory(caller);
  const auto run = [&] {
    // A missing file: the library notes the failed size probe.
    const platform::ProcessId pid = platform::StartProcessWithStdio(
        NN_PROGRESS, {NN_PROGRESS, caller + "/out", nginx.Url("/missing.bin")}, caller, platform::StandardHandles{});
    return platform::WaitProcess(pid);
  };
  platform::SetEnvironmentVariable("XDG_STATE_HOME", state);
  EXPECT_EQ(run(), 1);  // the C program reports the failed download
  EXPECT_NE(tools::ReadWholeFile(state + "/nndown/qarnAutoLog.log").find("missing.bin"),
            std::string::npos);
  EXPECT_FALSE(platform::FileExists(caller + "/qarnAutoLog.log"));
  EXPECT_FALSE(platform::FileExists(caller + "/qarnAutoLog.log.lock"));

  platform::SetEnvironmentVariable("NNDOWN_RUN_LOG", caller + "/chosen.log");
  EXPECT_EQ(run(), 1);  // the C program reports the failed download
  platform::UnsetEnvironmentVariable("NNDOWN_RUN_LOG");
  platform::UnsetEnvironmentVariable("XDG_STATE_HOME");
  EXPECT_NE(tools::ReadWholeFile(caller + "/chosen.log").find("missing.bin"), std::string::npos);
  EXPECT_FALSE(platform::FileExists(caller + "/qarnAutoLog.log"));
}

struct Delivery {
  std::atomic<int> nCalls{0};
  std::atomic<bool> bInside{false};
  std::thread::id caller;
};

void Record(void* pUser, uint32_t uMsg, uintptr_t wParam, intptr_t lParam) {
  auto* p = static_cast<Delivery*>(pUser);
  EXPECT_EQ(uMsg, static_cast<uint32_t>(WM_DOWN_NOTIFY));
  EXPECT_EQ(wParam, 42u);
  EXPECT_EQ(lParam, 999);
  p->caller = std::this_thread::get_id();
  p->bInside = true;
  platform::Sleep(200);
  p->bInside = false;
  ++p->nCalls;
}

TEST(NotifyTargetTest, RunsOnTheSendersThreadAndEndsWithDestroy) {
  EXPECT_EQ(NN_CreateNotifyTarget(nullptr, nullptr), 0u);
  Delivery delivery;
  const uintptr_t hTarget = NN_CreateNotifyTarget(Record, &delivery);
  ASSERT_NE(hTarget, 0u);
  std::thread::id sender;
  std::thread engine([&] {
    sender = std::this_thread::get_id();
    platform::SendMessage(hTarget, WM_DOWN_NOTIFY, 42, 999);
  });
  while (!delivery.bInside && delivery.nCalls == 0) platform::Sleep(1);
  // Destroying waits for the delivery in progress, so the user data can go.
  NN_DestroyNotifyTarget(hTarget);
  EXPECT_EQ(delivery.nCalls, 1);
  engine.join();
  EXPECT_EQ(delivery.caller, sender);
  platform::SendMessage(hTarget, WM_DOWN_NOTIFY, 42, 999);
  EXPECT_EQ(delivery.nCalls, 1);
  NN_DestroyNotifyTarget(hTarget);  // a second destroy is harmless
}

TEST(NotifyTargetTest, ACProgramDrawsProgressFromTheSharedLibrary) {
  if (!tools::NginxAvailable()) GTEST_SKIP() << "nginx is not installed";
  const std::string root = tools::TestFolder() + "/progress-root";
  platform::CreateDirectory(root);
  const std::string content = tools::PatternBytes(1000000, 17);
  ASSERT_TRUE(tools::WriteWholeFile(root + "/file.bin", content));
  // Slow enough for the 100 ms timer to report on the way.
  tools::CNginxServer nginx(root, "limit_rate 400k;");
  ASSERT_TRUE(nginx.Started());
  const std::string folder = tools::TestFolder() + "/progress-out";
  const std::string out = tools::TestFolder() + "/progress.out";
  platform::CFile f(
      platform::OpenFile(out, platform::kFileWrite, platform::FileDisposition::kCreateAlways));
  const platform::ProcessId pid = platform::StartProcessWithStdio(
      NN_PROGRESS, {NN_PROGRESS, folder, nginx.Url("/file.bin")}, "", {{}, f.Get(), {}});
  f.Close();
  EXPECT_EQ(platform::WaitProcess(pid), 0);
  EXPECT_TRUE(tools::ReadWholeFile(folder + "/file.bin") == content);

  std::istringstream lines(tools::ReadWholeFile(out));
  std::string line;
  int nProgress = 0;
  int nFinal = 0;
  long long llLast = -1;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string kind;
    long long a = 0, b = 0, c = 0;
    words >> kind >> a >> b >> c;
    if (kind == "progress") {
      ++nProgress;
      EXPECT_GE(b, llLast) << "progress went backwards";
      llLast = b;
      EXPECT_EQ(c, 1000000);
    } else if (kind == "final") {
      ++nFinal;
      EXPECT_EQ(a, 0);  // not active any more
      EXPECT_EQ(b, 1000000);
      EXPECT_EQ(c, 1000000);
    }
  }
  // nginx's rate limit sends in bursts, so how many reports fall inside the
  // transfer varies; at least one, rising, before the one final report.
  EXPECT_GE(nProgress, 1);
  EXPECT_EQ(nFinal, 1);
}

}  // namespace
