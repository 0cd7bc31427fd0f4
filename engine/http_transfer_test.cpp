#include "engine/http_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <string>
#include <thread>

#include "engine/resume_log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "tools/http_script.h"
#include "tools/nginx_server.h"
#include "tools/script_server.h"
#include "tools/test_support.h"

namespace {

using tools::CLogCapture;
using tools::CScriptConnection;
using tools::CScriptServer;

const std::string kContent = tools::PatternBytes(3000);

class HttpTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tools::DeleteRunLog();
    file = platform::CFile(platform::OpenFile("seg.bin", platform::kFileRead | platform::kFileWrite,
                                              platform::FileDisposition::kCreateAlways));
    ASSERT_TRUE(file.IsValid());
  }

  // A record for the segment [llStart, llStart + llLength) of the file.
  std::unique_ptr<DownThreadInfo> Record(const CScriptServer& server, int64_t llStart,
                                         int64_t llLength, int64_t llDone = 0) {
    auto p = std::make_unique<DownThreadInfo>();
    p->nProtocol = kProtocolHttp;
    p->pStop = &stop;
    p->pHold = &hold;
    std::strcpy(p->szHost, "127.0.0.1");
    p->nPort = server.Port();
    std::strcpy(p->szRemotePath, "/f.bin");
    p->llStart = llStart;
    p->llLength = llLength;
    p->llDone = llDone;
    p->pProgress = &progress;
    p->hFile = file.Get();
    return p;
  }
  std::string FileBytes() { return tools::ReadWholeFile("seg.bin"); }

  StopFlag stop{0};
  StopFlag hold{0};
  DownProgress progress;
  platform::CFile file;
  CLogCapture log;
};

TEST_F(HttpTransferTest, RequestTextIsExactlyTheBrowserLikeGet) {
  CScriptServer server([](CScriptConnection& c) { c.ReadRequest(); });
  platform::CSocket socket;
  ASSERT_EQ(ConnWithTime(&socket, 2, 2, "127.0.0.1", server.Port(), &stop, nullptr, NoteLog::kRunLog), 0);
  platform::CStream s(std::move(socket));
  SendGetRequest(s, "example.com", "/d/qarn.7z?x=1", 4294967296LL, 10);
  platform::Sleep(50);
  SendGetRequest(s, "h", "/", 0, 0);
  s.Close();
  server.Stop();
  const std::string agent =
      "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; Mozilla/4.0\r\n";
  ASSERT_GE(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "GET /d/qarn.7z?x=1 HTTP/1.1\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nRange: "
            "bytes=4294967296-4294967305\r\n" + agent +
                "Host: example.com\r\nConnection: Keep-Alive\r\n\r\n");
}

TEST_F(HttpTransferTest, CompleteSegmentSendsNothing) {
  CScriptServer server([](CScriptConnection& c) { c.ReadRequest(); });
  auto info = Record(server, 0, 100, 100);
  EXPECT_EQ(HttpDownThreadN1(info.get()), 0);
  EXPECT_EQ(info->nState.load(), 0);
  EXPECT_EQ(server.Connections(), 0);
}

TEST_F(HttpTransferTest, ResumedSegmentAsksForTheRestAndFillsIt) {
  CScriptServer server([](CScriptConnection& c) { tools::ServeContent(c, kContent); });
  auto info = Record(server, 1000, 500, 100);
  EXPECT_EQ(HttpDownThreadN1(info.get()), 0);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_NE(server.Requests()[0].find("\r\nRange: bytes=1100-1499\r\n"), std::string::npos);
  EXPECT_EQ(info->nState.load(), 0);
  EXPECT_EQ(info->llDone.load(), 500);
  const std::string bytes = FileBytes();
  ASSERT_EQ(bytes.size(), 1500u);
  EXPECT_EQ(bytes.substr(1100), kContent.substr(1100, 400));
  EXPECT_EQ(bytes.substr(0, 1100), std::string(1100, '\0'));
}

TEST_F(HttpTransferTest, HeaderEndingInTheSecondReadIsAccepted) {
  const std::string padding = "X-Pad: " + std::string(600, 'p') + "\r\n";
  CScriptServer server([&](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 206 Partial Content\r\n" + padding + "Content-Length: 100\r\n\r\n" +
           kContent.substr(0, 100));
  });
  auto info = Record(server, 0, 100);
  EXPECT_EQ(HttpDownThreadN1(info.get()), 0);
  EXPECT_EQ(FileBytes(), kContent.substr(0, 100));
  EXPECT_EQ(log.Count("head has data"), 1);
}

TEST_F(HttpTransferTest, HeaderLongerThanBothReadsFails) {
  const std::string padding = "X-Pad: " + std::string(2100, 'p') + "\r\n";
  CScriptServer server([&](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 206 Partial Content\r\n" + padding + "\r\n" + kContent.substr(0, 100));
  });
  auto n1 = Record(server, 0, 100);
  EXPECT_EQ(HttpDownThreadN1(n1.get()), -1);
  EXPECT_EQ(log.Count("http head fail1"), 1);
  auto nn = Record(server, 0, 100);
  EXPECT_EQ(HttpDownThreadNN(nn.get()), -1);
  EXPECT_EQ(log.Count("http head fail2"), 1);
  EXPECT_EQ(nn->nState.load(), -1);
  EXPECT_EQ(FileBytes(), "");
}

TEST_F(HttpTransferTest, OnlyOnePermanentRedirectIsFollowed) {
  CScriptServer target([](CScriptConnection& c) { tools::ServeContent(c, kContent); });
  CScriptServer redirect([&](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 301 Moved Permanently\r\nLocation: " + target.Url("/new/f.bin") +
           "\r\nContent-Length: 0\r\n\r\n");
  });
  auto info = Record(redirect, 0, 200);
  EXPECT_EQ(HttpDownThreadN1(info.get()), 0);
  EXPECT_EQ(info->nPort, target.Port());
  EXPECT_STREQ(info->szRemotePath, "/new/f.bin");
  EXPECT_EQ(FileBytes(), kContent.substr(0, 200));
  EXPECT_EQ(log.Count("Jmp\n"), 1);

  CScriptServer loop([&](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 301 Moved\r\nLocation: http://127.0.0.1:" + std::to_string(redirect.Port()) +
           "/again\r\n\r\n");
  });
  CScriptServer twice([&](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 301 Moved\r\nLocation: " + loop.Url("/x") + "\r\n\r\n");
  });
  auto second = Record(twice, 0, 200);
  EXPECT_EQ(HttpDownThreadN1(second.get()), -1);
  EXPECT_EQ(log.Count("http ack fail"), 1);
}

TEST_F(HttpTransferTest, OtherStatusesAndBrokenStatusLinesFail) {
  for (const std::string answer :
       {"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/\r\n\r\n",
        "HTTP/1.1 404 Not Found\r\n\r\n", "HTTP/1.1 2", "SSH-2.0-OpenSSH\r\n\r\n",
        "HTTP/1.1 301 Moved\r\nLocation: gopher://127.0.0.1/f\r\n\r\n",
        "HTTP/1.1 301 Moved\r\n\r\n"}) {
    CScriptServer server([&](CScriptConnection& c) {
      c.ReadRequest();
      c.Send(answer);
    });
    auto info = Record(server, 0, 100);
    EXPECT_EQ(HttpDownThreadN1(info.get()), -1) << answer;
  }
  EXPECT_EQ(log.Count("http ack fail"), 6);
  EXPECT_EQ(FileBytes(), "");
}

TEST_F(HttpTransferTest, ServerClosingMidSegmentLeavesWhatArrived) {
  CScriptServer server([](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 206 Partial Content\r\nContent-Length: 1000\r\n\r\n");
    platform::Sleep(50);  // no body bytes with the header: all count as progress
    c.SendSlowly(kContent.substr(0, 700), 350, 30);
  });
  auto info = Record(server, 0, 1000);
  EXPECT_EQ(HttpDownThreadN1(info.get()), -1);
  EXPECT_EQ(info->nState.load(), -1);
  EXPECT_EQ(info->llDone.load(), 700);
  EXPECT_EQ(FileBytes(), kContent.substr(0, 700));
  EXPECT_EQ(log.Count("http RecvN fail"), 1);
  EXPECT_EQ(progress.llDownloaded, 700);
}

TEST_F(HttpTransferTest, ResetMidSegmentFailsCleanly) {
  CScriptServer server([](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 206 Partial Content\r\n\r\n" + kContent.substr(0, 300));
    platform::Sleep(100);
    c.Reset();
  });
  auto info = Record(server, 0, 1000);
  HttpDownThreadN1(info.get());
  EXPECT_EQ(info->nState.load(), -1);
  EXPECT_EQ(info->llDone.load(), 300);
  EXPECT_EQ(FileBytes(), kContent.substr(0, 300));
}

TEST_F(HttpTransferTest, ServerSendingMoreThanTheRangeWritesOnlyTheSegment) {
  ASSERT_TRUE(tools::WriteWholeFile("seg.bin", std::string(800, 'S')));
  CScriptServer server([](CScriptConnection& c) {
    c.ReadRequest();
    // Both inside the header read and after it: more than was asked.
    c.Send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 100-\r\n\r\n" +
           kContent.substr(100, 600));
    c.WaitPeerClose();
  });
  auto small = Record(server, 100, 50);
  EXPECT_EQ(HttpDownThreadN1(small.get()), 0);
  auto large = Record(server, 100, 400);
  EXPECT_EQ(HttpDownThreadN1(large.get()), 0);
  const std::string bytes = FileBytes();
  EXPECT_EQ(bytes.substr(0, 100), std::string(100, 'S'));
  EXPECT_EQ(bytes.substr(100, 400), kContent.substr(100, 400));
  EXPECT_EQ(bytes.substr(500), std::string(300, 'S'));
}

TEST_F(HttpTransferTest, WholeFileAnswerToARangeIsSkippedToTheSegment) {
  CScriptServer server([](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n" + kContent);
    c.WaitPeerClose();
  });
  auto info = Record(server, 2000, 1000, 10);
  EXPECT_EQ(HttpDownThreadN1(info.get()), 0);
  const std::string bytes = FileBytes();
  ASSERT_EQ(bytes.size(), 3000u);
  EXPECT_EQ(bytes.substr(2010), kContent.substr(2010));
  EXPECT_EQ(bytes.substr(0, 2010), std::string(2010, '\0'));
}

TEST_F(HttpTransferTest, PartialAnswerForAnotherRangeIsRefused) {
  CScriptServer server([](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-99/3000\r\n\r\n" +
           kContent.substr(0, 100));
  });
  auto info = Record(server, 500, 100);
  EXPECT_EQ(HttpDownThreadN1(info.get()), -1);
  EXPECT_EQ(FileBytes(), "");
}

TEST_F(HttpTransferTest, HoldAndStopEndTheTransfer) {
  CScriptServer server([](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 206 Partial Content\r\n\r\n");
    c.SendSlowly(kContent, 100, 20);
  });
  auto info = Record(server, 0, 3000);
  info->nChunkSize = 100;  // several passes, so the speed gets measured
  std::thread raiser([this] {
    platform::Sleep(200);
    hold.fetch_add(1);
  });
  HttpDownThreadN1(info.get());
  raiser.join();
  EXPECT_EQ(info->nState.load(), -1);
  EXPECT_GT(info->llDone.load(), 0);
  EXPECT_LT(info->llDone.load(), 3000);
  EXPECT_EQ(FileBytes(), kContent.substr(0, static_cast<size_t>(info->llDone.load())));
  EXPECT_GT(info->dSpeed, 0.0);
}

TEST_F(HttpTransferTest, ListConnectionResumesFromItsSizeSlotAndKeepsItCurrent) {
  platform::CFile sizes(platform::OpenFile("seg.bin.vx$",
                                           platform::kFileRead | platform::kFileWrite,
                                           platform::FileDisposition::kCreateAlways));
  SetDownloadSize(sizes.Get(), 0, 3000);
  SetDownloadSize(sizes.Get(), 2, 400);
  ASSERT_TRUE(tools::WriteWholeFile("seg.bin", std::string(1900, '\0')));
  CScriptServer server([](CScriptConnection& c) {
    int64_t first = 0, last = 0;
    tools::RequestRange(c.ReadRequest(), &first, &last);
    // The header alone first, so every body byte is counted as progress.
    c.Send("HTTP/1.1 206 Partial Content\r\n\r\n");
    platform::Sleep(50);
    c.Send(kContent.substr(first, last - first + 1));
  });
  auto info = Record(server, 1500, 1500);
  info->nFileTag = 1;
  info->hSizeFile = sizes.Get();
  info->bReadSizeSlot = true;
  info->nSizeSlot = 1;
  EXPECT_EQ(HttpDownThreadNN(info.get()), 0);
  EXPECT_NE(server.Requests().at(0).find("Range: bytes=1900-2999"), std::string::npos);
  int64_t llSlot = 0;
  EXPECT_TRUE(GetDownloadSize(sizes.Get(), 2, &llSlot));
  EXPECT_EQ(llSlot, 1500);
  EXPECT_EQ(progress.llDownloaded, 1500);
  EXPECT_EQ(FileBytes().substr(1900), kContent.substr(1900));
  const std::vector<std::string> messages = log.Messages();
  EXPECT_EQ(messages.front(), "1, " + std::to_string(info->nSerial) + ", 1500, 1500, 0");
  EXPECT_EQ(messages.back(), "tid: 1, id: " + std::to_string(info->nSerial) + ", exit: 0, 1500, 1500");

  // A damaged slot beyond the segment starts it over instead of writing elsewhere.
  SetDownloadSize(sizes.Get(), 2, 99999);
  auto again = Record(server, 1500, 1500);
  again->hSizeFile = sizes.Get();
  again->bReadSizeSlot = true;
  again->nSizeSlot = 1;
  again->nFileTag = 1;
  EXPECT_EQ(HttpDownThreadNN(again.get()), 0);
  EXPECT_NE(server.Requests().at(1).find("Range: bytes=1500-2999"), std::string::npos);
  sizes.Close();
}

TEST_F(HttpTransferTest, SizeProbeReadsContentLengthAndRefusesNonsense) {
  auto probe = [&](const std::string& answer) {
    CScriptServer server([&](CScriptConnection& c) {
      c.ReadRequest();
      c.Send(answer);
    });
    return HttpGetSize(server.Url("/f").c_str(), &stop);
  };
  EXPECT_EQ(probe("HTTP/1.1 200 OK\r\nContent-Length: 123456\r\n\r\nbody"), 123456);
  EXPECT_EQ(probe("HTTP/1.1 200 OK\r\nContent-Type: x\r\n\r\nbody"), -1);
  EXPECT_EQ(probe("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n"), -1);
  EXPECT_EQ(probe("HTTP/1.1 200 OK\r\nContent-Length: lots\r\n\r\n"), -1);
  EXPECT_EQ(probe("HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n"), -1);
  EXPECT_EQ(probe("HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\n"), 2147483647);
  EXPECT_EQ(probe("HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\n"), -1);
  EXPECT_EQ(probe(""), -1);
  // Every received header goes to the run log, and each failure says why.
  std::vector<std::string> notes = tools::RunLogTexts();
  const auto noted = [&](const std::string& start) {
    return std::count_if(notes.begin(), notes.end(),
                         [&](const std::string& note) { return note.rfind(start, 0) == 0; });
  };
  EXPECT_EQ(noted("HTTP/1.1 404 Not Found | Content-Length: 10"), 1);
  EXPECT_EQ(noted("size of http://127.0.0.1:"), 6);
  EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                          [](const std::string& note) {
                            return note.find("/f unknown: the server answered \"HTTP/1.1 404 Not "
                                             "Found\"") != std::string::npos;
                          }),
            1);
  const std::string silent = "unknown: the server sent no answer";
  ASSERT_GE(notes.back().size(), silent.size());
  EXPECT_EQ(notes.back().substr(notes.back().size() - silent.size()), silent);
}

TEST_F(HttpTransferTest, SizeProbeFollowsRedirectsUpToItsBound) {
  CScriptServer target([](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 77\r\n\r\n");
  });
  CScriptServer hop([&](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 301 Moved\r\nLocation: " + target.Url("/f") + "\r\n\r\n");
  });
  EXPECT_EQ(HttpGetSize(hop.Url("/f").c_str(), &stop), 77);
  EXPECT_EQ(GetUrlSize((hop.Url("/f") + "\r\n").c_str(), &stop), 77);

  std::string self;
  CScriptServer loop([&](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 301 Moved\r\nLocation: " + self + "\r\n\r\n");
  });
  self = loop.Url("/again");
  EXPECT_EQ(HttpGetSize(self.c_str(), &stop), -1);
  EXPECT_EQ(loop.Connections(), kMaxSizeRedirects + 1);
}

TEST_F(HttpTransferTest, SizeProbeOfAnUnreachableServerNotesTheConnectFailure) {
  const std::string url = "http://127.0.0.1:" + std::to_string(tools::RefusingPort()) + "/f";
  stop = 1;  // no attempts at all
  EXPECT_EQ(HttpGetSize(url.c_str(), &stop), -1);
  EXPECT_EQ(tools::RunLogTexts(), std::vector<std::string>{"ConnWithTime error"});
  EXPECT_EQ(GetUrlSize("gopher://h/x", &stop), 0);
  EXPECT_EQ(log.Count("JudgeProtocol null\n"), 1);
}

TEST_F(HttpTransferTest, TwoListConnectionsFetchTheHalvesFromNginx) {
  if (!tools::NginxAvailable()) GTEST_SKIP() << "nginx is not installed";
  const std::string root = tools::TestFolder() + "/www";
  platform::CreateDirectory(root);
  const std::string content = tools::PatternBytes(1000003, 7);
  ASSERT_TRUE(tools::WriteWholeFile(root + "/big.bin", content));
  tools::CNginxServer nginx(root);
  ASSERT_TRUE(nginx.Started());
  EXPECT_EQ(HttpGetSize(nginx.Url("/big.bin").c_str(), &stop), 1000003);

  CScriptServer unused([](CScriptConnection&) {});
  auto first = Record(unused, 0, 500001);
  auto second = Record(unused, 500001, 500002);
  for (auto* p : {first.get(), second.get()}) {
    p->nPort = nginx.Port();
    std::strcpy(p->szRemotePath, "/big.bin");
  }
  int32_t r1 = -9, r2 = -9;
  std::thread a([&] { r1 = HttpDownThreadNN(first.get()); });
  std::thread b([&] { r2 = HttpDownThreadNN(second.get()); });
  a.join();
  b.join();
  EXPECT_EQ(r1, 0);
  EXPECT_EQ(r2, 0);
  EXPECT_TRUE(FileBytes() == content) << "the file differs from the served one";
  // Body bytes that arrive with a header are not counted as progress.
  EXPECT_LE(progress.llDownloaded, 1000003);
  EXPECT_GT(progress.llDownloaded, 1000003 - 2 * 1024);
}

}  // namespace
