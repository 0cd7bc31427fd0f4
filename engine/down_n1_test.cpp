#include "engine/down_n1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>
#include <string>
#include <thread>

#include "engine/down_engine.h"
#include "engine/resume_log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/process.h"
#include "tools/ftp_script.h"
#include "tools/http_script.h"
#include "tools/nginx_server.h"
#include "tools/script_server.h"
#include "tools/test_support.h"

namespace {

using tools::CLogCapture;
using tools::CScriptConnection;
using tools::CScriptServer;

// A mirror serving one file, optionally slowly, recording the data ranges.
class CMirror {
 public:
  explicit CMirror(std::string content, size_t nChunk = 0, uint32_t dwPause = 0)
      : content_(std::move(content)),
        server_([this, nChunk, dwPause](CScriptConnection& c) {
          const std::string request = c.ReadRequest();
          if (request.empty()) return;
          int64_t first = 0, last = 0;
          if (!tools::RequestRange(request, &first, &last)) {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content_.size()) +
                   "\r\n\r\n");
            return;
          }
          {
            std::lock_guard<std::mutex> lock(lock_);
            ranges_.push_back(std::to_string(first) + "-" + std::to_string(last));
          }
          c.Send("HTTP/1.1 206 Partial Content\r\n\r\n");
          const std::string part = content_.substr(first, last - first + 1);
          if (nChunk == 0) {
            c.Send(part);
          } else {
            c.SendSlowly(part, nChunk, dwPause);
          }
        }) {}
  std::string Url() const { return server_.Url("/files/target.bin"); }
  std::vector<std::string> Ranges() {
    std::lock_guard<std::mutex> lock(lock_);
    return ranges_;
  }

 private:
  std::string content_;
  std::mutex lock_;
  std::vector<std::string> ranges_;
  CScriptServer server_;
};

class DownN1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tools::TestFolder() + "/n1-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
  }
  int32_t Download(const std::string& urls, platform::HWND hWnd = 0) {
    return NN_Down_n1(urls.c_str(), folder.c_str(), hWnd, 6, 50);
  }
  std::string Target() { return tools::ReadWholeFile(folder + "target.bin"); }
  bool LogExists() { return platform::FileExists(folder + "target.bin.dat"); }
  std::string folder;
  CLogCapture log;
};

TEST_F(DownN1Test, OneMirrorFetchesTheWholeFileInOneSegment) {
  const std::string content = tools::PatternBytes(70000, 31);
  CMirror mirror(content);
  EXPECT_EQ(Download(mirror.Url() + "\r\n"), 1);
  EXPECT_EQ(mirror.Ranges(), std::vector<std::string>{"0-69999"});
  EXPECT_TRUE(Target() == content);
  EXPECT_FALSE(LogExists());
  EXPECT_EQ(log.Count("re: -1"), 1);
  EXPECT_EQ(log.Count("quit\n"), 1);
}

TEST_F(DownN1Test, ThreeMirrorsShareTheFileAndAnOddOneIsDropped) {
  const std::string content = "0123456789";
  CMirror a(content), b(content), c(content), odd("a different size");
  const std::string urls = a.Url() + "\r\n" + odd.Url() + "\r\n" + b.Url() + "\r\n" + c.Url();
  EXPECT_EQ(Download(urls + "\r\n"), 1);
  EXPECT_EQ(a.Ranges(), std::vector<std::string>{"0-2"});
  EXPECT_EQ(b.Ranges(), std::vector<std::string>{"3-5"});
  EXPECT_EQ(c.Ranges(), std::vector<std::string>{"6-9"});
  EXPECT_TRUE(odd.Ranges().empty());
  EXPECT_EQ(log.Count("size equal fail: " + odd.Url()), 1);
  EXPECT_EQ(Target(), content);
}

TEST_F(DownN1Test, UrlTextWithoutLineEndOrSlashFails) {
  CMirror mirror("abc");
  EXPECT_EQ(Download(mirror.Url()), 0);
  EXPECT_EQ(log.Count("no find \\r\\n\n"), 1);
  EXPECT_EQ(Download("no-slash-here\r\n"), 0);
  EXPECT_EQ(Download(mirror.Url() + "\r\nnoslash\r\n"), 0);
  EXPECT_EQ(log.Count("input szUrl error\n"), 2);
  EXPECT_TRUE(mirror.Ranges().empty());
  // A name that would climb out of the folder is refused.
  EXPECT_EQ(Download("http://127.0.0.1:1/..\r\n"), 0);
}

TEST_F(DownN1Test, CompleteLogReturnsAtOnceAndStays) {
  const std::string content = tools::PatternBytes(5000, 32);
  CMirror mirror(content);
  ASSERT_TRUE(JudgeDir(folder.c_str()));
  ASSERT_TRUE(tools::WriteWholeFile(folder + "target.bin", content));
  auto r = std::make_unique<DownThreadInfo>();
  r->nProtocol = kProtocolHttp;
  std::strcpy(r->szHost, "127.0.0.1");
  std::strcpy(r->szRemotePath, "/files/target.bin");
  r->llStart = 0;
  r->llLength = 5000;
  r->llDone = 5000;
  r->nState = 0;
  DownThreadInfo* p = r.get();
  ASSERT_TRUE(CreateLog((folder + "target.bin").c_str(), &p, 1));
  platform::CloseFile(r->hLog);
  EXPECT_EQ(Download(mirror.Url() + "\r\n"), 1);
  EXPECT_EQ(log.Count("has down\n"), 1);
  EXPECT_TRUE(LogExists());
  EXPECT_TRUE(mirror.Ranges().empty());
}

TEST_F(DownN1Test, DamagedOrForeignLogsArePlannedAfresh) {
  const std::string content = tools::PatternBytes(9000, 33);
  CMirror mirror(content);
  ASSERT_TRUE(JudgeDir(folder.c_str()));
  ASSERT_TRUE(tools::WriteWholeFile(folder + "target.bin.dat", std::string("\x40\0\0\0garbage", 11)));
  EXPECT_EQ(Download(mirror.Url() + "\r\n"), 1);
  EXPECT_TRUE(Target() == content);
  EXPECT_EQ(mirror.Ranges(), std::vector<std::string>{"0-8999"});
}

TEST_F(DownN1Test, FreshDownloadOverALongerFileLeavesNoOldBytes) {
  const std::string content = tools::PatternBytes(4000, 34);
  CMirror mirror(content);
  ASSERT_TRUE(JudgeDir(folder.c_str()));
  ASSERT_TRUE(tools::WriteWholeFile(folder + "target.bin", std::string(10000, 'o')));
  EXPECT_EQ(Download(mirror.Url() + "\r\n"), 1);
  EXPECT_TRUE(Target() == content);
}

TEST_F(DownN1Test, UnwritableLogStillDownloads) {
  const std::string content = tools::PatternBytes(3000, 35);
  CMirror mirror(content);
  ASSERT_TRUE(JudgeDir((folder + "target.bin.dat").c_str()));  // a folder in the log's place
  EXPECT_EQ(Download(mirror.Url() + "\r\n"), 1);
  EXPECT_TRUE(Target() == content);
}

TEST_F(DownN1Test, StopThenResumeEndsByteIdentical) {
  const std::string content = tools::PatternBytes(400000, 36);
  CMirror slow1(content, 2048, 20), slow2(content, 2048, 20);
  const std::string urls = slow1.Url() + "\r\n" + slow2.Url() + "\r\n";
  auto result = std::async(std::launch::async, [&] { return Download(urls); });
  platform::Sleep(800);
  EXPECT_EQ(NN_Stop(6), 1);
  EXPECT_EQ(result.get(), 0);
  EXPECT_TRUE(LogExists());

  CMirror fast1(content), fast2(content);
  EXPECT_EQ(Download(fast1.Url() + "\r\n" + fast2.Url() + "\r\n"), 1);
  // The new call continued from the log, on the servers the log names.
  EXPECT_TRUE(fast1.Ranges().empty());
  // Each segment was asked for from its start only once: the second call resumed.
  auto all = slow1.Ranges();
  for (const auto& r : slow2.Ranges()) all.push_back(r);
  EXPECT_GE(all.size(), 4u);
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const std::string& r) { return r.rfind("0-", 0) == 0; }), 1);
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const std::string& r) { return r.rfind("200000-", 0) == 0; }), 1);
  EXPECT_TRUE(Target() == content);
  EXPECT_FALSE(LogExists());
}

TEST_F(DownN1Test, SlowMirrorsSegmentIsTakenOverByAFastServer) {
  const std::string content = tools::PatternBytes(600000, 37);
  CMirror fast(content), slow(content, 2048, 40);
  EXPECT_EQ(Download(fast.Url() + "\r\n" + slow.Url() + "\r\n"), 1);
  EXPECT_TRUE(Target() == content);
  // The slow server's segment was finished from the fast one.
  const auto ranges = fast.Ranges();
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0], "0-299999");
  EXPECT_EQ(ranges[1].substr(ranges[1].find('-')), "-599999");
  EXPECT_EQ(log.Count("re: 1"), 1);
}

TEST_F(DownN1Test, MoreThan64MirrorsAreCapped) {
  const std::string content = tools::PatternBytes(6500, 38);
  CMirror mirror(content);
  std::string urls;
  for (int i = 0; i < 66; ++i) urls += mirror.Url() + "\r\n";
  // Every connection start is followed by a 100 ms pause: this takes a while.
  EXPECT_EQ(Download(urls), 1);
  EXPECT_EQ(mirror.Ranges().size(), 64u);
  EXPECT_EQ(log.Count("mirror dropped: " + mirror.Url()), 2);
  EXPECT_TRUE(Target() == content);
}

TEST_F(DownN1Test, StopDuringTheProbesEndsWithoutAFile) {
  CScriptServer silent([](CScriptConnection& c) { c.StaySilent(); });
  auto result = std::async(std::launch::async,
                           [&] { return Download(silent.Url("/files/target.bin") + "\r\n"); });
  platform::Sleep(300);
  EXPECT_EQ(NN_Stop(6), 1);
  EXPECT_EQ(result.get(), 0);
  EXPECT_FALSE(platform::FileExists(folder + "target.bin"));
}

TEST_F(DownN1Test, FinalNotificationIsSentWithTheRecordStillAlive) {
  const std::string content = tools::PatternBytes(90000, 39);
  CMirror mirror(content, 8192, 20);
  std::vector<std::tuple<int64_t, int32_t, int32_t>> seen;  // lParam, percent, active
  platform::CEvent ready{true, false};
  platform::HWND hWnd = 0;
  std::thread owner([&] {
    hWnd = platform::CreateMessageWindow(
        [&](platform::HWND, uint32_t uMsg, platform::WPARAM w, platform::LPARAM l) -> platform::LRESULT {
          const auto* p = reinterpret_cast<const DownProgress*>(w);
          if (uMsg == WM_DOWN_NOTIFY) seen.emplace_back(l, p->nPercent, p->bActive);
          return 0;
        });
    ready.Set();
    platform::RunMessageLoop();
  });
  ready.Wait();
  EXPECT_EQ(Download(mirror.Url() + "\r\n", hWnd), 1);
  platform::PostMessage(hWnd, platform::WM_QUIT, 0, 0);
  owner.join();
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen.back(), std::make_tuple(int64_t{0}, 100, 0));
  EXPECT_EQ(std::get<0>(seen.front()), 999);
}

TEST(DownN1ProcessTest, KilledDownloadResumesFromItsLog) {
  const std::string content = tools::PatternBytes(500000, 40);
  CMirror slow(content, 8192, 10);
  const std::string folder = tools::TestFolder() + "/n1-killed/";
  const std::vector<std::string> args = {NN_FETCH, "n1", folder, slow.Url()};
  platform::ProcessId pid = platform::StartProcess(NN_FETCH, args, "");
  ASSERT_NE(pid, platform::kInvalidProcess);
  std::vector<std::unique_ptr<DownThreadInfo>> records;
  for (int i = 0; i < 200; ++i) {
    platform::Sleep(50);
    if (LoadLog((folder + "target.bin").c_str(), &records)) {
      const int64_t llDone = records[0]->llDone.load();
      platform::CloseFile(records[0]->hLog);
      if (llDone > 0) break;
    }
  }
  platform::TerminateProcess(pid);
  platform::WaitProcess(pid);
  pid = platform::StartProcess(NN_FETCH, args, "");
  EXPECT_EQ(platform::WaitProcess(pid), 0);
  EXPECT_TRUE(tools::ReadWholeFile(folder + "target.bin") == content);
  const auto ranges = slow.Ranges();
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_NE(ranges[1].rfind("0-", 0), 0u) << "the second run started over";
}

TEST(DownN1RealServersTest, HttpAndFtpMirrorsTogether) {
  if (!tools::NginxAvailable() || !tools::PyFtpdlibAvailable()) {
    GTEST_SKIP() << "nginx or pyftpdlib is not installed";
  }
  const std::string root = tools::TestFolder() + "/mirror-root";
  platform::CreateDirectory(root);
  const std::string content = tools::PatternBytes(2000001, 41);
  ASSERT_TRUE(tools::WriteWholeFile(root + "/target.bin", content));
  tools::CNginxServer nginx(root);
  tools::CPyFtpServer ftp(root);
  ASSERT_TRUE(nginx.Started());
  ASSERT_TRUE(ftp.Started());
  const std::string folder = tools::TestFolder() + "/n1-real";
  const std::string urls = nginx.Url("/target.bin") + "\r\n" + ftp.Url("/target.bin") + "\r\n";
  EXPECT_EQ(NN_Down_n1(urls.c_str(), folder.c_str(), 0, 9, 100), 1);
  EXPECT_TRUE(tools::ReadWholeFile(folder + "/target.bin") == content);
}

TEST(PickSlowConnectionTest, OnlySlowConnectionsWithWorkLeftAreChosen) {
  CLogCapture log;
  DownThreadInfo finished, nearlyDone, slow, fast;
  for (DownThreadInfo* r : {&finished, &nearlyDone, &slow, &fast}) {
    r->llStart = 0;
    r->llLength = 1000000;
    r->llDone = 0;
    r->llDoneAtStart = 0;
    r->dwStartTick = platform::GetTickCount() - 1000;
  }
  finished.llDone = 1000000;  // about 1000 bytes/ms
  nearlyDone.llDone = 1000000 - 20480;
  nearlyDone.dSpeed = 1;
  slow.dSpeed = 100;
  fast.dSpeed = 900;
  DownThreadInfo* records[] = {&finished, &nearlyDone, &slow, &fast};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(PickSlowConnection(finished, records, 4), 2);
  EXPECT_GT(finished.dSpeed, 900.0);
  EXPECT_EQ(PickSlowConnection(finished, records, 1), -1);
  slow.dSpeed = 700;  // no longer below 0.6 of the finished speed
  EXPECT_EQ(PickSlowConnection(finished, records, 4), -1);
  EXPECT_GE(log.Count("sp id: 2, sp: 700.00"), 1);
}

}  // namespace
