#include "engine/connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/nn_down.h"
#include "platform/clock.h"
#include "tools/http_script.h"
#include "tools/script_server.h"
#include "tools/test_support.h"

namespace {

using platform::SocketHandle;
using tools::CLogCapture;
using tools::CScriptConnection;
using tools::CScriptServer;

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { tools::DeleteRunLog(); }
  StopFlag stop{0};
  StopFlag hold{0};
  CLogCapture log;
};

TEST_F(ConnectionTest, UnresolvableNameFailsBeforeAnyAttempt) {
  platform::CSocket s;
  uint32_t dwStart = platform::GetTickCount();
  EXPECT_EQ(ConnWithTime(&s, 8, 15, "no-such-host.invalid", 80, &stop, nullptr, NoteLog::kRunLog), -1);
  EXPECT_LT(platform::GetTickCount() - dwStart, 5000u);
  EXPECT_EQ(tools::RunLogTexts(), std::vector<std::string>{"package gethostbyname fail"});

  // Noted to the engine log instead, it fails the same way but says nothing.
  tools::DeleteRunLog();
  EXPECT_EQ(ConnWithTime(&s, 8, 15, "no-such-host.invalid", 80, &stop, &hold, NoteLog::kEngineLog), -1);
  EXPECT_TRUE(tools::RunLogTexts().empty());
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ConnectionTest, MissingHostStopFlagOrPortFail) {
  platform::CSocket s;
  EXPECT_EQ(ConnWithTime(&s, 1, 1, "", 80, &stop, nullptr, NoteLog::kRunLog), -1);
  EXPECT_EQ(ConnWithTime(&s, 1, 1, "127.0.0.1", 80, nullptr, nullptr, NoteLog::kRunLog), -1);
  // A port outside 0..65535 is no port at all.
  EXPECT_EQ(ConnWithTime(&s, 1, 1, "127.0.0.1", 70000, &stop, &hold, NoteLog::kEngineLog), -1);
  EXPECT_EQ(ConnWithTime(&s, 1, 1, "127.0.0.1", -1, &stop, nullptr, NoteLog::kRunLog), -1);
  EXPECT_FALSE(s.IsValid());
}

TEST_F(ConnectionTest, ConnectsToAListeningServer) {
  CScriptServer server([](CScriptConnection& c) { c.Send("hi"); });
  platform::CSocket s;
  ASSERT_EQ(ConnWithTime(&s, 2, 3, "localhost", server.Port(), &stop, nullptr, NoteLog::kRunLog), 0);
  char buffer[8] = {};
  EXPECT_EQ(RecvN(s.Get(), buffer, 2, 0, 2, &stop, nullptr, nullptr, nullptr), 2);
  EXPECT_EQ(std::string(buffer), "hi");
  s.Close();
}

TEST_F(ConnectionTest, RefusedAttemptsPauseBrieflyAndAreCounted) {
  const uint16_t port = tools::RefusingPort();
  platform::CSocket s;
  ConnFailure why = ConnFailure::kNone;
  uint32_t dwStart = platform::GetTickCount();
  // Three attempts of 8 s each: a refused one pauses half a second.
  EXPECT_EQ(ConnWithTime(&s, 8, 3, "127.0.0.1", port, &stop, nullptr, NoteLog::kRunLog, &why), -1);
  const uint32_t dwSpent = platform::GetTickCount() - dwStart;
  EXPECT_GE(dwSpent, 1400u);
  EXPECT_LT(dwSpent, 8000u);
  EXPECT_EQ(why, ConnFailure::kRefused);
  EXPECT_EQ(tools::RunLogTexts(),
            (std::vector<std::string>{"超时：0次\n", "超时：1次\n", "超时：2次\n"}));
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"超时退出!\n"});
}

// A listener whose accept queue is full: the kernel drops further SYNs, so
// a connect gets no answer at all, as from a host that is gone.
class CFullListener {
 public:
  CFullListener() {
    listener_ = platform::CSocket(platform::ListenLoopback(0, 0, &port_));
    for (int i = 0; i < 8; ++i) {
      platform::CSocket s(platform::OpenStreamSocket());
      platform::SetNonBlocking(s.Get(), true);
      platform::StartConnect(s.Get(), 0x0100007F, port_);
      const bool bQueued = platform::WaitConnected(s.Get(), 300) != 0;
      fillers_.push_back(std::move(s));
      if (!bQueued) break;
    }
  }
  uint16_t Port() const { return port_; }

 private:
  platform::CSocket listener_;
  uint16_t port_ = 0;
  std::vector<platform::CSocket> fillers_;
};

TEST_F(ConnectionTest, ASilentServerCostsTheWholeTimeOfEachAttempt) {
  CFullListener silent;
  platform::CSocket s;
  ConnFailure why = ConnFailure::kNone;
  uint32_t dwStart = platform::GetTickCount();
  EXPECT_EQ(ConnWithTime(&s, 1, 2, "127.0.0.1", silent.Port(), &stop, nullptr, NoteLog::kRunLog, &why), -1);
  EXPECT_GE(platform::GetTickCount() - dwStart, 1900u);
  EXPECT_EQ(why, ConnFailure::kNoAnswer);
  EXPECT_EQ(tools::RunLogTexts(), (std::vector<std::string>{"超时：0次\n", "超时：1次\n"}));
}

TEST_F(ConnectionTest, EngineLoggedConnectsNoteAttemptsThere) {
  const uint16_t port = tools::RefusingPort();
  platform::CSocket s;
  EXPECT_EQ(ConnWithTime(&s, 1, 2, "127.0.0.1", port, &stop, &hold, NoteLog::kEngineLog), -1);
  EXPECT_TRUE(tools::RunLogTexts().empty());
  EXPECT_EQ(log.Messages(),
            (std::vector<std::string>{"超时：0次\n", "超时：1次\n", "超时退出!\n"}));
}

TEST_F(ConnectionTest, RaisedFlagsEndTheAttemptsEarly) {
  const uint16_t port = tools::RefusingPort();
  platform::CSocket s;
  stop = 1;
  EXPECT_EQ(ConnWithTime(&s, 8, 15, "127.0.0.1", port, &stop, nullptr, NoteLog::kRunLog), -1);
  EXPECT_TRUE(log.Lines().empty());
  stop = 0;

  std::thread raiser([this] {
    platform::Sleep(300);
    hold.fetch_add(1);
  });
  uint32_t dwStart = platform::GetTickCount();
  EXPECT_EQ(ConnWithTime(&s, 8, 15, "127.0.0.1", port, &stop, &hold, NoteLog::kEngineLog), -1);
  EXPECT_LT(platform::GetTickCount() - dwStart, 3000u);
  raiser.join();
  EXPECT_EQ(log.Count("超时退出!\n"), 0);
}

struct Counter {
  int nCalls = 0;
  int64_t llTotal = 0;
  int32_t nLargest = 0;
};
Counter g_counter;

int32_t CountBytes(int32_t nBytes, DownProgress*) {
  ++g_counter.nCalls;
  g_counter.llTotal += nBytes;
  g_counter.nLargest = std::max(g_counter.nLargest, nBytes);
  return nBytes;
}

class RecvNTest : public ConnectionTest {
 protected:
  platform::CSocket Connect(CScriptServer& server) {
    g_counter = Counter{};
    platform::CSocket s;
    EXPECT_EQ(ConnWithTime(&s, 2, 2, "127.0.0.1", server.Port(), &stop, nullptr, NoteLog::kRunLog), 0);
    return s;
  }
};

TEST_F(RecvNTest, TakesWhatHasArrivedInLargeStepsAndReportsEveryByte) {
  const std::string body = tools::PatternBytes(600000, 3);
  CScriptServer server([&](CScriptConnection& c) {
    c.Send(body);
    c.WaitPeerClose();
  });
  platform::CSocket s = Connect(server);
  // Let it all arrive first: then a few receives take it, none past the count.
  platform::Sleep(300);
  std::string buffer(700000, '\0');
  int32_t n = RecvN(s.Get(), buffer.data(), 550000, 0, 2, &stop, nullptr, CountBytes, nullptr);
  EXPECT_EQ(n, 550000);
  EXPECT_TRUE(buffer.substr(0, 550000) == body.substr(0, 550000));
  EXPECT_EQ(buffer[550000], '\0') << "wrote past the count";
  EXPECT_EQ(g_counter.llTotal, 550000);
  EXPECT_LE(g_counter.nLargest, 256 * 1024);
  EXPECT_GT(g_counter.nLargest, 256) << "still receiving in small steps";
  EXPECT_LE(g_counter.nCalls, 550000 / 4096) << "a receive call per few bytes";
  EXPECT_TRUE(log.Lines().empty());
  s.Close();
}

TEST_F(RecvNTest, ASlowServerIsReportedByteForByteAsItArrives) {
  CScriptServer server([&](CScriptConnection& c) {
    c.SendSlowly(std::string(3000, 'q'), 100, 10);
    c.WaitPeerClose();
  });
  platform::CSocket s = Connect(server);
  char buffer[3000];
  EXPECT_EQ(RecvN(s.Get(), buffer, 3000, 0, 2, &stop, nullptr, CountBytes, nullptr), 3000);
  EXPECT_EQ(g_counter.llTotal, 3000);
  // Progress moved as the pieces came, not once at the end.
  EXPECT_GE(g_counter.nCalls, 10);
  s.Close();
}

TEST_F(RecvNTest, AHoldRaisedWhileDataKeepsArrivingIsSeenWithin100Ms) {
  std::atomic<bool> bDone{false};
  CScriptServer server([&](CScriptConnection& c) {
    while (!bDone && c.Send(std::string(1000, 'h'))) platform::Sleep(5);
  });
  platform::CSocket s = Connect(server);
  // Far more room than 300 ms of data need, so only the hold ends it.
  std::string buffer(10 * 1000 * 1000, '\0');
  std::thread raiser([this] {
    platform::Sleep(300);
    hold.fetch_add(1);
  });
  const uint32_t dwStart = platform::GetTickCount();
  const int32_t n = RecvN(s.Get(), buffer.data(), static_cast<int32_t>(buffer.size()), 0, 8, &stop,
                          &hold, CountBytes, nullptr);
  const uint32_t dwSpent = platform::GetTickCount() - dwStart;
  raiser.join();
  bDone = true;
  EXPECT_GT(n, 0);
  EXPECT_LT(dwSpent, 300u + 400u) << "the hold was not seen promptly";
  s.Close();
}

TEST_F(RecvNTest, PeerCloseEndsWithTheBytesSoFarAndOneFailedRecv) {
  CScriptServer server([](CScriptConnection& c) { c.Send(std::string(300, 'y')); });
  platform::CSocket s = Connect(server);
  std::string buffer(1000, '\0');
  EXPECT_EQ(RecvN(s.Get(), buffer.data(), 1000, 0, 2, &stop, &hold, CountBytes, nullptr), 300);
  EXPECT_EQ(g_counter.llTotal, 300);
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"Failed recv\n"});
  s.Close();
}

TEST_F(RecvNTest, ZeroCountSilenceAndFlagsStopReceiving) {
  CScriptServer server([](CScriptConnection& c) {
    c.SendSlowly(std::string(2000, 'z'), 100, 20);
    c.StaySilent();
  });
  platform::CSocket s = Connect(server);
  char buffer[4096];
  EXPECT_EQ(RecvN(s.Get(), buffer, 0, 0, 1, &stop, nullptr, CountBytes, nullptr), 0);
  EXPECT_EQ(g_counter.nCalls, 0);

  // A silent server ends the receive after the wait, without "Failed recv".
  uint32_t dwStart = platform::GetTickCount();
  int32_t n = RecvN(s.Get(), buffer, 4096, 0, 1, &stop, nullptr, CountBytes, nullptr);
  EXPECT_EQ(n, 2000);
  EXPECT_GE(platform::GetTickCount() - dwStart, 1000u);

  hold = 1;
  EXPECT_EQ(RecvN(s.Get(), buffer, 10, 0, 1, &stop, &hold, CountBytes, nullptr), 0);
  stop = 1;
  EXPECT_EQ(RecvN(s.Get(), buffer, 10, 0, 1, &stop, nullptr, CountBytes, nullptr), 0);
  EXPECT_EQ(RecvN(s.Get(), nullptr, 10, 0, 1, &stop, nullptr, CountBytes, nullptr), 0);
  EXPECT_TRUE(log.Lines().empty());
  s.Close();
}

TEST_F(RecvNTest, StopReachesAReceiveWaitingOnASilentServer) {
  CScriptServer server([](CScriptConnection& c) { c.StaySilent(); });
  platform::CSocket s = Connect(server);
  std::thread raiser([this] {
    platform::Sleep(200);
    stop.fetch_add(1);
  });
  char buffer[64];
  const uint32_t dwStart = platform::GetTickCount();
  EXPECT_EQ(RecvN(s.Get(), buffer, 64, 0, 8, &stop, nullptr, CountBytes, nullptr), 0);
  EXPECT_LT(platform::GetTickCount() - dwStart, 4000u) << "the stop waited for the whole time-out";
  raiser.join();
  s.Close();
}

}  // namespace
