#include "engine/down_nn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>
#include <string>
#include <thread>

#include "engine/down_engine.h"
#include "engine/list_names.h"
#include "engine/resume_log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tools/http_script.h"
#include "tools/nginx_server.h"
#include "tools/script_server.h"
#include "tools/test_support.h"

namespace {

using tools::CLogCapture;
using tools::CScriptConnection;
using tools::CScriptServer;

// Serves named files; counts the data requests (those with a Range) per file.
class CFileServer {
 public:
  CFileServer()
      : server_([this](CScriptConnection& c) {
          const std::string request = c.ReadRequest();
          if (request.empty()) return;
          const size_t start = request.find(' ') + 1;
          const std::string path = request.substr(start, request.find(' ', start) - start);
          std::string content;
          int nFailFrom = -1;
          {
            std::lock_guard<std::mutex> lock(lock_);
            auto it = files_.find(path);
            if (it == files_.end()) {
              c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
              return;
            }
            content = it->second;
            int64_t first = 0, last = 0;
            if (tools::RequestRange(request, &first, &last)) {
              ranges_[path].push_back(std::to_string(first) + "-" + std::to_string(last));
              nFailFrom = failFrom_.count(path) ? failFrom_[path] : -1;
            }
          }
          int64_t first = 0, last = 0;
          if (nFailFrom >= 0 && tools::RequestRange(request, &first, &last)) {
            // Breaks off after a few bytes of each data request.
            c.Send("HTTP/1.1 206 Partial Content\r\n\r\n" +
                   content.substr(first, std::min<int64_t>(nFailFrom, last - first + 1)));
            return;
          }
          Answer(c, request, content);
        }) {}

  void Put(const std::string& path, const std::string& content) {
    std::lock_guard<std::mutex> lock(lock_);
    files_[path] = content;
  }
  void FailAfter(const std::string& path, int nBytes) {
    std::lock_guard<std::mutex> lock(lock_);
    failFrom_[path] = nBytes;
  }
  void Heal(const std::string& path) {
    std::lock_guard<std::mutex> lock(lock_);
    failFrom_.erase(path);
  }
  std::vector<std::string> Ranges(const std::string& path) {
    std::lock_guard<std::mutex> lock(lock_);
    auto r = ranges_[path];
    std::sort(r.begin(), r.end());
    return r;
  }
  std::string Url(const std::string& path) const { return server_.Url(path); }
  CScriptServer& Server() { return server_; }
  int nDelayMs = 0;

 private:
  void Answer(CScriptConnection& c, const std::string& request, const std::string& content) {
    if (nDelayMs > 0) platform::Sleep(static_cast<uint32_t>(nDelayMs));
    int64_t first = 0, last = 0;
    if (!tools::RequestRange(request, &first, &last)) {
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content.size()) + "\r\n\r\n");
      return;
    }
    c.Send("HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(last - first + 1) +
           "\r\n\r\n");
    c.Send(content.substr(first, last - first + 1));
  }
  std::mutex lock_;
  std::map<std::string, std::string> files_;
  std::map<std::string, std::vector<std::string>> ranges_;
  std::map<std::string, int> failFrom_;
  CScriptServer server_;
};

class DownNNTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tools::DeleteRunLog();
    folder = tools::TestFolder() + "/nn-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    SetPrefix(server.Url("/qarn"));
  }
  void SetPrefix(const std::string& url) { naming.prefix = platform::Utf8ToUtf16(url); }
  std::string List(std::initializer_list<const char*> names) {
    std::string list;
    for (const char* n : names) list += server.Url(std::string("/qarn/") + n) + "\r\n";
    return list;
  }
  int32_t Download(const std::string& list) {
    return DownUrlList(list.c_str(), folder.c_str(), 0, 4, 100, naming);
  }
  std::string Read(const std::string& name) { return tools::ReadWholeFile(folder + name); }
  bool Exists(const std::string& name) { return platform::FileExists(folder + name); }

  CFileServer server;
  std::string folder;
  ListNaming naming;
  CLogCapture log;
};

TEST_F(DownNNTest, SmallFileGetsOneConnectionResumingFromItsDataFile) {
  const std::string content = tools::PatternBytes(51199, 11);
  server.Put("/qarn/a.bin", content);
  ASSERT_TRUE(JudgeDir(folder.c_str()));
  ASSERT_TRUE(tools::WriteWholeFile(folder + "a.bin.vx!", content.substr(0, 1000)));
  std::string header(48, '\0');
  header[0] = static_cast<char>(51199 & 0xFF);
  header[1] = static_cast<char>(51199 >> 8);
  ASSERT_TRUE(tools::WriteWholeFile(folder + "a.bin.vx$", header));
  EXPECT_EQ(Download(List({"a.bin"})), 1);
  EXPECT_EQ(server.Ranges("/qarn/a.bin"), std::vector<std::string>{"1000-51198"});
  EXPECT_TRUE(Read("a.bin") == content);
  EXPECT_FALSE(Exists("a.bin.vx!"));
  EXPECT_FALSE(Exists("a.bin.vx$"));
  EXPECT_EQ(log.Count("NN_nn out <-- id: 4, exit: 1"), 1);
}

TEST_F(DownNNTest, BytesOfAnotherVersionOfTheFileAreNeverReused) {
  const std::string content = tools::PatternBytes(40000, 22);
  server.Put("/qarn/v.bin", content);
  ASSERT_TRUE(JudgeDir(folder.c_str()));
  // Data of an older, longer version under a header that names its size.
  ASSERT_TRUE(tools::WriteWholeFile(folder + "v.bin.vx!", std::string(30000, 'o')));
  std::string header(48, '\0');
  header[0] = 0x50;
  header[1] = 0xC3;  // 50000
  ASSERT_TRUE(tools::WriteWholeFile(folder + "v.bin.vx$", header));
  EXPECT_EQ(Download(List({"v.bin"})), 1);
  EXPECT_EQ(server.Ranges("/qarn/v.bin"), std::vector<std::string>{"0-39999"});
  EXPECT_TRUE(Read("v.bin") == content);
}

TEST_F(DownNNTest, LargeFilesAreSplitBetweenTwoConnections) {
  server.Put("/qarn/even.bin", tools::PatternBytes(51200, 12));
  server.Put("/qarn/odd.bin", tools::PatternBytes(100001, 13));
  EXPECT_EQ(Download(List({"even.bin", "odd.bin"})), 1);
  EXPECT_EQ(server.Ranges("/qarn/even.bin"), (std::vector<std::string>{"0-25599", "25600-51199"}));
  EXPECT_EQ(server.Ranges("/qarn/odd.bin"), (std::vector<std::string>{"0-49999", "50000-100000"}));
  EXPECT_TRUE(Read("even.bin") == tools::PatternBytes(51200, 12));
  EXPECT_TRUE(Read("odd.bin") == tools::PatternBytes(100001, 13));
}

TEST_F(DownNNTest, SegmentsKeepTheirProgressInSizeSlotsOneAndTwo) {
  const std::string content = tools::PatternBytes(100001, 14);
  server.Put("/qarn/odd.bin", content);
  server.FailAfter("/qarn/odd.bin", 3000);
  auto result = std::async(std::launch::async, [&] { return Download(List({"odd.bin"})); });
  platform::Sleep(2000);
  EXPECT_EQ(NN_Stop(4), 1);
  EXPECT_EQ(result.get(), -199);
  platform::CFile h(platform::OpenFile(folder + "odd.bin.vx$", platform::kFileRead,
                                       platform::FileDisposition::kOpenExisting));
  int64_t size = 0, first = 0, second = 0;
  EXPECT_TRUE(GetDownloadSize(h.Get(), 0, &size));
  EXPECT_TRUE(GetDownloadSize(h.Get(), 1, &first));
  EXPECT_TRUE(GetDownloadSize(h.Get(), 2, &second));
  EXPECT_EQ(size, 100001);
  EXPECT_EQ(first, 3000);
  EXPECT_EQ(second, 3000);
  EXPECT_FALSE(Exists("odd.bin"));
  const std::string data = Read("odd.bin.vx!");
  EXPECT_EQ(data.substr(0, 3000), content.substr(0, 3000));
  EXPECT_EQ(data.substr(50000, 3000), content.substr(50000, 3000));

  // The next call resumes both segments where they stopped.
  server.Heal("/qarn/odd.bin");
  EXPECT_EQ(Download(List({"odd.bin"})), 1);
  const auto ranges = server.Ranges("/qarn/odd.bin");
  EXPECT_NE(std::find(ranges.begin(), ranges.end(), "3000-49999"), ranges.end());
  EXPECT_NE(std::find(ranges.begin(), ranges.end(), "53000-100000"), ranges.end());
  EXPECT_TRUE(Read("odd.bin") == content);
}

TEST_F(DownNNTest, CompleteFinalFileIsSkippedAndAWrongOneReplaced) {
  const std::string content = tools::PatternBytes(60000, 15);
  server.Put("/qarn/have.bin", content);
  server.Put("/qarn/stale.bin", content);
  ASSERT_TRUE(JudgeDir(folder.c_str()));
  ASSERT_TRUE(tools::WriteWholeFile(folder + "have.bin", std::string(60000, 'h')));
  ASSERT_TRUE(tools::WriteWholeFile(folder + "stale.bin", std::string(123, 's')));
  EXPECT_EQ(Download(List({"have.bin", "stale.bin"})), 1);
  EXPECT_TRUE(server.Ranges("/qarn/have.bin").empty());
  EXPECT_FALSE(Exists("have.bin.vx!"));
  EXPECT_FALSE(Exists("have.bin.vx$"));
  EXPECT_EQ(Read("have.bin"), std::string(60000, 'h'));
  EXPECT_TRUE(Read("stale.bin") == content);
}

TEST_F(DownNNTest, NothingMovesUntilTheWholeListIsComplete) {
  server.Put("/qarn/one.bin", tools::PatternBytes(70000, 16));
  server.Put("/qarn/two.bin", tools::PatternBytes(30000, 17));
  server.FailAfter("/qarn/two.bin", 100);
  auto result = std::async(std::launch::async, [&] { return Download(List({"one.bin", "two.bin"})); });
  platform::Sleep(3000);
  EXPECT_EQ(NN_Stop(4), 1);
  EXPECT_EQ(result.get(), -199);
  EXPECT_FALSE(Exists("one.bin"));
  EXPECT_FALSE(Exists("two.bin"));
  EXPECT_TRUE(Exists("one.bin.vx!"));

  server.Heal("/qarn/two.bin");
  const size_t nOneRanges = server.Ranges("/qarn/one.bin").size();
  EXPECT_EQ(Download(List({"one.bin", "two.bin"})), 1);
  EXPECT_EQ(server.Ranges("/qarn/one.bin").size(), nOneRanges) << "the first file was fetched again";
  EXPECT_TRUE(Read("one.bin") == tools::PatternBytes(70000, 16));
  EXPECT_TRUE(Read("two.bin") == tools::PatternBytes(30000, 17));
}

TEST_F(DownNNTest, DroppedConnectionIsRestartedAndResumes) {
  const std::string content = tools::PatternBytes(20000, 18);
  server.Put("/qarn/drop.bin", content);
  server.FailAfter("/qarn/drop.bin", 5000);
  std::thread healer([&] {
    platform::Sleep(1500);
    server.Heal("/qarn/drop.bin");
  });
  EXPECT_EQ(Download(List({"drop.bin"})), 1);
  healer.join();
  const auto ranges = server.Ranges("/qarn/drop.bin");
  ASSERT_GE(ranges.size(), 2u);
  EXPECT_NE(std::find(ranges.begin(), ranges.end(), "5000-19999"), ranges.end());
  EXPECT_TRUE(Read("drop.bin") == content);
}

TEST_F(DownNNTest, ListStopsAtALineOutsideTheUpdateLocation) {
  server.Put("/qarn/a.bin", "aaaa");
  server.Put("/other/b.bin", "bbbb");
  const std::string list = server.Url("/qarn/a.bin") + "\r\n" + server.Url("/other/b.bin") +
                           "\r\n" + server.Url("/qarn/c.bin") + "\r\n";
  EXPECT_EQ(Download(list), 1);
  EXPECT_EQ(Read("a.bin"), "aaaa");
  EXPECT_FALSE(Exists("b.bin"));
  EXPECT_FALSE(Exists("c.bin"));
  // The line is noted (a note in the same tick as the one before replaces
  // it in place, keeping that one's line end).
  const auto notes = tools::RunLogTexts();
  EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [&](const std::string& note) {
    return note.rfind(server.Url("/other/b.bin"), 0) == 0;
  }));
}

TEST_F(DownNNTest, FailedSizeProbeIsNeverADownloadedFile) {
  EXPECT_EQ(Download(List({"missing.bin"})), 0);
  EXPECT_FALSE(Exists("missing.bin"));
  EXPECT_FALSE(Exists("missing.bin.vx!"));
}

TEST_F(DownNNTest, ArgumentAndReadinessFailures) {
  EXPECT_EQ(Download(server.Url("/qarn/a.bin")), 0);
  EXPECT_EQ(tools::RunLogTexts().back(), "no find \\r\\n\n");
  g_downEngine.bReady = false;
  EXPECT_EQ(Download(List({"a.bin"})), 0);
  g_downEngine.bReady = true;
  EXPECT_EQ(log.Count("init fail"), 1);
}

TEST_F(DownNNTest, StoppedTaskReturnsMinus199EvenWithEveryFileComplete) {
  const std::string content = "complete";
  server.Put("/qarn/done.bin", content);
  ASSERT_TRUE(JudgeDir(folder.c_str()));
  ASSERT_TRUE(tools::WriteWholeFile(folder + "done.bin", content));
  server.nDelayMs = 1500;  // the size probe is slow: the stop lands during it
  auto result = std::async(std::launch::async, [&] { return Download(List({"done.bin"})); });
  platform::Sleep(500);
  EXPECT_EQ(NN_Stop(4), 1);
  EXPECT_EQ(result.get(), -199);
  EXPECT_EQ(Read("done.bin"), content);
}

TEST_F(DownNNTest, ProgressReachesTheWindowAndEndsAtOneHundred) {
  const std::string content = tools::PatternBytes(80000, 19);
  server.Put("/qarn/p.bin", content);
  std::vector<std::pair<int32_t, int32_t>> seen;  // (percent, active)
  std::mutex lock;
  platform::CEvent ready{true, false};
  platform::HWND hWnd = 0;
  std::thread owner([&] {
    hWnd = platform::CreateMessageWindow(
        [&](platform::HWND, uint32_t uMsg, platform::WPARAM w, platform::LPARAM l) -> platform::LRESULT {
          if (uMsg == WM_DOWN_NOTIFY && l == 999) {
            const auto* p = reinterpret_cast<const DownProgress*>(w);
            std::lock_guard<std::mutex> guard(lock);
            seen.emplace_back(p->nPercent, p->bActive);
          }
          return 0;
        });
    ready.Set();
    platform::RunMessageLoop();
  });
  ready.Wait();
  EXPECT_EQ(DownUrlList(List({"p.bin"}).c_str(), folder.c_str(), hWnd, 4, 50, naming), 1);
  platform::PostMessage(hWnd, platform::WM_QUIT, 0, 0);
  owner.join();
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen.back(), std::make_pair(100, 0));
  for (size_t i = 0; i + 1 < seen.size(); ++i) {
    EXPECT_EQ(seen[i].second, 1);
    EXPECT_GE(seen[i].first, 0);
    EXPECT_LE(seen[i].first, 100);
  }
}

TEST(DownNNProcessTest, KilledDownloadResumesAndEndsByteIdentical) {
  const std::string content = tools::PatternBytes(1200000, 20);
  std::atomic<int> nDataRequests{0};
  std::mutex lock;
  std::vector<int64_t> firstBytes;
  CScriptServer server([&](CScriptConnection& c) {
    const std::string request = c.ReadRequest();
    int64_t first = 0, last = 0;
    if (!tools::RequestRange(request, &first, &last)) {
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1200000\r\n\r\n");
      return;
    }
    {
      std::lock_guard<std::mutex> guard(lock);
      firstBytes.push_back(first);
    }
    ++nDataRequests;
    // Slow enough that a kill finds both segments under way.
    c.Send("HTTP/1.1 206 Partial Content\r\n\r\n");
    c.SendSlowly(content.substr(first, last - first + 1), 4096, 10);
  });
  const std::string folder = tools::TestFolder() + "/killed/";
  const std::vector<std::string> args = {NN_FETCH, "nn", folder, server.Url("/pkg/big.bin")};
  platform::ProcessId pid = platform::StartProcess(NN_FETCH, args, "");
  ASSERT_NE(pid, platform::kInvalidProcess);
  // Wait until a good share has arrived, then kill the process outright.
  for (int i = 0; i < 200; ++i) {
    platform::Sleep(50);
    platform::CFile h(platform::OpenFile(folder + "big.bin.vx$", platform::kFileRead,
                                         platform::FileDisposition::kOpenExisting));
    int64_t a = 0, b = 0;
    GetDownloadSize(h.Get(), 1, &a);
    GetDownloadSize(h.Get(), 2, &b);
    if (a > 0 && b > 0) break;
  }
  platform::TerminateProcess(pid);
  platform::WaitProcess(pid);
  ASSERT_FALSE(platform::FileExists(folder + "big.bin"));
  {
    std::lock_guard<std::mutex> guard(lock);
    firstBytes.clear();
  }
  pid = platform::StartProcess(NN_FETCH, args, "");
  EXPECT_EQ(platform::WaitProcess(pid), 0);
  EXPECT_TRUE(tools::ReadWholeFile(folder + "big.bin") == content);
  std::lock_guard<std::mutex> guard(lock);
  ASSERT_EQ(firstBytes.size(), 2u);
  std::sort(firstBytes.begin(), firstBytes.end());
  EXPECT_GT(firstBytes[0], 0) << "the first segment started over";
  EXPECT_GT(firstBytes[1], 600000) << "the second segment started over";
  EXPECT_EQ(nDataRequests.load(), 4);
}

TEST(DownNNRealServerTest, NginxServesAListEndToEnd) {
  if (!tools::NginxAvailable()) GTEST_SKIP() << "nginx is not installed";
  const std::string root = tools::TestFolder() + "/www-nn";
  platform::CreateDirectory(root);
  platform::CreateDirectory(root + "/qarn");
  const std::string big = tools::PatternBytes(3000001, 21);
  ASSERT_TRUE(tools::WriteWholeFile(root + "/qarn/qarn.7z", big));
  ASSERT_TRUE(tools::WriteWholeFile(root + "/qarn/small.txt", "small"));
  tools::CNginxServer nginx(root);
  ASSERT_TRUE(nginx.Started());
  const std::u16string prefix = platform::Utf8ToUtf16(nginx.Url("/qarn"));
  const std::string folder = tools::TestFolder() + "/nginx-nn";
  const std::string list = nginx.Url("/qarn/qarn.7z") + "\r\n" + nginx.Url("/qarn/small.txt") + "\r\n";
  EXPECT_EQ(DownUrlList(list.c_str(), folder.c_str(), 0, 8, 100, ListNaming{prefix, u""}), 1);
  EXPECT_TRUE(tools::ReadWholeFile(folder + "/qarn.7z") == big);
  EXPECT_EQ(tools::ReadWholeFile(folder + "/small.txt"), "small");
}

}  // namespace
