// Servers that answer every request wrongly: a download gives up after a
// bounded stretch without progress instead of restarting for ever.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/down_nn.h"
#include "engine/down_task.h"
#include "engine/list_names.h"
#include "engine/nn_down.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tools/http_script.h"
#include "tools/script_server.h"
#include "tools/test_env.h"
#include "tools/test_support.h"

namespace {

using tools::CScriptConnection;
using tools::CScriptServer;

// A short bound, so each case ends within seconds; the design's 5 s pause
// between restarts still applies.
class HostileServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.timeLimits[kNoProgressLimitName] = 2000;
    tools::DeleteRunLog();
    folder = tools::TestFolder() + "/hostile-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
  }
  // A list download of "/qarn/f.bin" from the server; its result.
  int32_t ListDownload(CScriptServer& server) {
    const std::string list = server.Url("/qarn/f.bin") + "\r\n";
    return DownUrlList(list.c_str(), folder.c_str(), 0, 3, 100,
                       ListNaming{platform::Utf8ToUtf16(server.Url("/qarn")), u""});
  }
  bool Noted(const std::string& text) {
    for (const std::string& note : tools::RunLogTexts()) {
      if (note.find(text) != std::string::npos) return true;
    }
    return false;
  }
  std::string folder;
  tools::CLogCapture log;
  tools::CTestEnv env;
};

using tools::AnswerProbeThen;

TEST_F(HostileServerTest, ASizeLargerThanTheFileEndsAsAFailure) {
  const std::string content = tools::PatternBytes(40000, 81);
  CScriptServer server(AnswerProbeThen(60000, [&](CScriptConnection& c, int64_t first, int64_t) {
    // Whatever was asked, only the bytes that exist come, then the end.
    const std::string part = first < 40000 ? content.substr(first) : "";
    c.Send("HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(part.size()) +
           "\r\n\r\n" + part);
  }));
  EXPECT_EQ(ListDownload(server), 0);
  EXPECT_FALSE(platform::FileExists(folder + "f.bin"));
  EXPECT_TRUE(Noted("given up")) << "no note says why";
}

TEST_F(HostileServerTest, A416ForEveryRangeEndsAsAFailure) {
  CScriptServer server(AnswerProbeThen(70000, [](CScriptConnection& c, int64_t, int64_t) {
    c.Send("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n");
  }));
  const uint32_t dwStart = platform::GetTickCount();
  EXPECT_EQ(ListDownload(server), 0);
  EXPECT_LT(platform::GetTickCount() - dwStart, 60000u);
  EXPECT_GE(server.Connections(), 3);
  EXPECT_FALSE(platform::FileExists(folder + "f.bin"));
}

TEST_F(HostileServerTest, AHeaderLongerThanTheBufferEndsAsAFailure) {
  CScriptServer server(AnswerProbeThen(70000, [](CScriptConnection& c, int64_t, int64_t) {
    std::string header = "HTTP/1.1 206 Partial Content\r\n";
    for (int i = 0; i < 200; ++i) header += "X-Filler-" + std::to_string(i) + ": ok\r\n";
    c.Send(header + "\r\n" + std::string(70000, 'x'));
  }));
  EXPECT_EQ(ListDownload(server), 0);
  EXPECT_FALSE(platform::FileExists(folder + "f.bin"));
}

TEST_F(HostileServerTest, ListLinesOfOtherSchemesFailTheList) {
  CScriptServer server(AnswerProbeThen(10, [](CScriptConnection& c, int64_t, int64_t) {
    c.Send("HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\n\r\n0123456789");
  }));
  for (const std::string scheme : {"ftp", "gopher"}) {
    tools::DeleteRunLog();
    const std::string location = scheme + "://127.0.0.1:" + std::to_string(server.Port()) + "/qarn";
    const std::string list = location + "/f.bin\r\n";
    EXPECT_EQ(DownUrlList(list.c_str(), folder.c_str(), 0, 3, 100,
                          ListNaming{platform::Utf8ToUtf16(location), u""}),
              0)
        << scheme;
    EXPECT_FALSE(platform::FileExists(folder + "f.bin")) << scheme;
    EXPECT_TRUE(Noted("the list download speaks http:// and https:// only")) << scheme;
  }
}

TEST_F(HostileServerTest, AMirrorThatDiesLastEndsTheSingleFileTask) {
  const std::string content = tools::PatternBytes(200000, 82);
  // Mirror A serves its half at once. Mirror B serves all but the last
  // 10000 bytes of its half, too few to be handed to A, and then is gone.
  CScriptServer a(AnswerProbeThen(200000, [&](CScriptConnection& c, int64_t first, int64_t last) {
    c.Send("HTTP/1.1 206 Partial Content\r\n\r\n" + content.substr(first, last - first + 1));
  }));
  std::atomic<bool> bGone{false};
  auto b = std::make_unique<CScriptServer>(
      AnswerProbeThen(200000, [&](CScriptConnection& c, int64_t first, int64_t last) {
        if (bGone) return;
        c.Send("HTTP/1.1 206 Partial Content\r\n\r\n" + content.substr(first, last - first + 1 - 10000));
        bGone = true;
      }));
  const uint16_t bPort = b->Port();
  std::thread killer([&] {
    while (!bGone) platform::Sleep(10);
    platform::Sleep(300);
    b.reset();  // nothing listens there any more
  });
  const std::string urls = a.Url("/f.bin") + "\r\n" +
                           "http://127.0.0.1:" + std::to_string(bPort) + "/f.bin\r\n";
  const uint32_t dwStart = platform::GetTickCount();
  EXPECT_EQ(NN_Down_n1(urls.c_str(), folder.c_str(), 0, 5, 100), 0);
  EXPECT_LT(platform::GetTickCount() - dwStart, 90000u);
  killer.join();
  EXPECT_TRUE(Noted("given up: "));
}

TEST_F(HostileServerTest, AResumeLogNamingADeadServerEndsTheTask) {
  const std::string content = tools::PatternBytes(300000, 83);
  const auto serve = [&](bool bSlow) {
    return AnswerProbeThen(300000, [&content, bSlow](CScriptConnection& c, int64_t first, int64_t last) {
      const std::string part = content.substr(first, last - first + 1);
      c.Send("HTTP/1.1 206 Partial Content\r\n\r\n");
      if (bSlow) {
        c.SendSlowly(part, 2000, 50);
      } else {
        c.Send(part);
      }
    });
  };
  // A first run from server X is stopped halfway: its log names X.
  auto x = std::make_unique<CScriptServer>(serve(true));
  const std::string xUrl = x->Url("/f.bin") + "\r\n";
  std::thread stopper([] {
    platform::Sleep(1500);
    NN_Stop(8);
  });
  EXPECT_EQ(NN_Down_n1(xUrl.c_str(), folder.c_str(), 0, 8, 100), 0);
  stopper.join();
  ASSERT_TRUE(platform::FileExists(folder + "f.bin.dat"));
  x.reset();
  // X is gone; the call names a live mirror Y, but the log sends every
  // connection to X.
  CScriptServer y(serve(false));
  const std::string urls = y.Url("/f.bin") + "\r\n";
  const uint32_t dwStart = platform::GetTickCount();
  const int32_t nResult = NN_Down_n1(urls.c_str(), folder.c_str(), 0, 9, 100);
  EXPECT_LT(platform::GetTickCount() - dwStart, 90000u);
  // The log sends every connection to X: the task gives up instead of
  // hanging.
  EXPECT_EQ(nResult, 0);
  EXPECT_TRUE(Noted("given up: "));
}

}  // namespace
