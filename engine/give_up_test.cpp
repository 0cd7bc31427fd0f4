// How soon a download gives up, by cause, with the design's own bounds in
// force: a server that has gone away, answers that can never succeed and a
// silent server end the task in seconds; a server that still sends is never
// given up. Each case prints the time it took, from the fault to the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/down_nn.h"
#include "engine/list_names.h"
#include "engine/nn_down.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tools/http_script.h"
#include "tools/script_server.h"
#include "tools/test_support.h"

namespace {

using tools::CScriptConnection;
using tools::CScriptServer;

constexpr int64_t kFileSize = 300000;

class GiveUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tools::DeleteRunLog();
    folder = tools::TestFolder() + "/giveup-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    content = tools::PatternBytes(kFileSize, 91);
  }
  int32_t ListDownload(const std::string& url) {
    const std::string base = url.substr(0, url.rfind('/'));
    return DownUrlList((url + "\r\n").c_str(), folder.c_str(), 0, 11, 100,
                       ListNaming{platform::Utf8ToUtf16(base), u""});
  }
  int32_t SingleFileDownload(const std::string& url) {
    return NN_Down_n1((url + "\r\n").c_str(), folder.c_str(), 0, 12, 100);
  }
  std::string Cause() {
    for (const std::string& note : tools::RunLogTexts()) {
      if (note.find(" given up: ") != std::string::npos) return note;
    }
    return "";
  }
  // The time since dwFrom, printed for the record.
  uint32_t Took(uint32_t dwFrom) {
    const uint32_t dwTook = platform::GetTickCount() - dwFrom;
    std::printf("%s: %.1f s; %s\n", ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                dwTook / 1000.0, Cause().c_str());
    return dwTook;
  }
  std::string folder, content;
};

// The partial data of a range, as a well-behaved server sends it.
std::string Partial(const std::string& content, int64_t first, int64_t last) {
  return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
         std::to_string(last) + "/" + std::to_string(content.size()) + "\r\n\r\n";
}

TEST_F(GiveUpTest, AServerThatGoesAwayMidDownloadIsGivenUpInSeconds) {
  for (const bool bList : {true, false}) {
    tools::DeleteRunLog();
    auto server = std::make_unique<CScriptServer>(
        tools::AnswerProbeThen(kFileSize, [&](CScriptConnection& c, int64_t first, int64_t last) {
          c.Send(Partial(content, first, last));
          c.SendSlowly(std::string_view(content).substr(first, last - first + 1), 1000, 100);
        }));
    const std::string url = server->Url("/qarn/f.bin");
    uint32_t dwGone = 0;
    std::thread killer([&] {
      platform::Sleep(2500);
      dwGone = platform::GetTickCount();
      server.reset();  // every connection closed, nothing listens any more
    });
    const int32_t nResult = bList ? ListDownload(url) : SingleFileDownload(url);
    killer.join();
    EXPECT_EQ(nResult, 0);
    // The design's restart pause (5 s) and one round of refused connects,
    // not the 90 s no-progress bound.
    EXPECT_LT(Took(dwGone), 30000u) << (bList ? "list" : "single file");
    EXPECT_NE(Cause().find("gone away"), std::string::npos) << Cause();
    platform::RemoveTree(folder);
  }
}

// Answers no repetition changes: a handful, then the task ends.
TEST_F(GiveUpTest, AnswersThatCanNeverSucceedAreGivenUpAfterAHandful) {
  struct Case {
    const char* szName;
    std::function<void(CScriptConnection&, int64_t, int64_t)> answer;
    const char* szCause;
  };
  const std::string hugeHeader = [] {
    std::string header = "HTTP/1.1 206 Partial Content\r\n";
    while (header.size() < 300000) header += "X-Filler: " + std::string(100, 'f') + "\r\n";
    return header + "\r\n";
  }();
  const Case cases[] = {
      {"a 300 KB header", [&](CScriptConnection& c, int64_t, int64_t) { c.Send(hugeHeader); },
       "a header longer than"},
      {"416 for every range",
       [](CScriptConnection& c, int64_t, int64_t) {
         c.Send("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n");
       },
       "416"},
      {"a malformed status line",
       [](CScriptConnection& c, int64_t, int64_t) { c.Send("SPDY/9 whatever\r\n\r\n"); },
       "malformed status line"},
      {"a size other than the probe's",
       [](CScriptConnection& c, int64_t first, int64_t last) {
         c.Send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
                std::to_string(last) + "/999999\r\n\r\n");
       },
       "where the size probe said 300000"},
  };
  for (const Case& one : cases) {
    for (const bool bList : {true, false}) {
      tools::DeleteRunLog();
      CScriptServer server(tools::AnswerProbeThen(kFileSize, one.answer));
      const uint32_t dwStart = platform::GetTickCount();
      const int32_t nResult = bList ? ListDownload(server.Url("/qarn/f.bin"))
                                    : SingleFileDownload(server.Url("/qarn/f.bin"));
      EXPECT_EQ(nResult, 0) << one.szName;
      std::printf("%s (%s) ", one.szName, bList ? "list" : "single file");
      EXPECT_LT(Took(dwStart), 20000u) << one.szName;
      EXPECT_NE(Cause().find(one.szCause), std::string::npos) << one.szName << ": " << Cause();
      EXPECT_FALSE(platform::FileExists(folder + "f.bin") && bList) << one.szName;
      platform::RemoveTree(folder);
    }
  }
}

TEST_F(GiveUpTest, AServerThatAcceptsAndSaysNothingIsGivenUpAfterItsTimeOuts) {
  CScriptServer server(tools::AnswerProbeThen(kFileSize, [](CScriptConnection& c, int64_t, int64_t) { c.StaySilent(); }));
  const uint32_t dwStart = platform::GetTickCount();
  EXPECT_EQ(ListDownload(server.Url("/qarn/f.bin")), 0);
  EXPECT_LT(Took(dwStart), 60000u);
  EXPECT_NE(Cause().find("says nothing"), std::string::npos) << Cause();
}

// A server that sends a little and then drops the connection, again and
// again, for longer than any of the bounds above: it still sends, so the
// download goes on to the end.
TEST_F(GiveUpTest, AServerThatStillSendsIsNeverGivenUp) {
  const std::string small = tools::PatternBytes(4000, 92);
  CScriptServer server(tools::AnswerProbeThen(4000, [&](CScriptConnection& c, int64_t first, int64_t last) {
    last = std::min<int64_t>(last, first + 999);
    c.Send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
           std::to_string(last) + "/4000\r\n\r\n" + small.substr(first, last - first + 1));
    c.Close();
  }));
  const uint32_t dwStart = platform::GetTickCount();
  EXPECT_EQ(ListDownload(server.Url("/qarn/f.bin")), 1) << Cause();
  Took(dwStart);
  EXPECT_TRUE(tools::ReadWholeFile(folder + "f.bin") == small);
  EXPECT_EQ(Cause(), "");
}

}  // namespace
