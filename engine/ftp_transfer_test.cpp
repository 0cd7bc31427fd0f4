#include "engine/ftp_transfer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/file.h"
#include "tools/ftp_script.h"
#include "tools/http_script.h"
#include "tools/test_support.h"

namespace {

using tools::CLogCapture;
using tools::CScriptConnection;
using tools::CScriptServer;
using tools::FtpScript;

const std::string kContent = tools::PatternBytes(300000, 3);

std::vector<std::string> Commands(CScriptServer& server) {
  server.Stop();
  return server.Requests();
}

TEST(PasvReplyTest, ParsesAddressAndPortAndRefusesTheImplausible) {
  FtpReply reply;
  EXPECT_TRUE(ParsePasvReply("Entering Passive Mode (10,0,0,5,4,1).\r\n", &reply));
  EXPECT_STREQ(reply.szPasvHost, "10.0.0.5");
  EXPECT_EQ(reply.nPasvPort, 1025);
  EXPECT_FALSE(ParsePasvReply("Entering Passive Mode (10,0,0,5,3,255).\r\n", &reply));
  EXPECT_FALSE(ParsePasvReply("Entering Passive Mode (10,0,5,4,1).\r\n", &reply));
  EXPECT_FALSE(ParsePasvReply("Entering Passive Mode (1,2,3).\r\n", &reply));
  EXPECT_FALSE(ParsePasvReply("Entering Passive Mode (10,0,0,5,4,1\r\n", &reply));
  EXPECT_FALSE(ParsePasvReply("(10,0,0,5,999,1)", &reply));
  EXPECT_FALSE(ParsePasvReply("(1000000000000,0,0,5,4,1)", &reply));
}

class FtpTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file = platform::CFile(platform::OpenFile("ftp.bin", platform::kFileRead | platform::kFileWrite,
                                              platform::FileDisposition::kCreateAlways));
    ASSERT_TRUE(file.IsValid());
  }
  std::unique_ptr<DownThreadInfo> Record(uint16_t port, int64_t llStart, int64_t llLength,
                                         int64_t llDone = 0) {
    auto p = std::make_unique<DownThreadInfo>();
    p->nProtocol = kProtocolFtp;
    p->pStop = &stop;
    p->pHold = &hold;
    std::strcpy(p->szHost, "127.0.0.1");
    p->nPort = port;
    std::strcpy(p->szRemotePath, "/pub/f.bin");
    std::strcpy(p->szUser, "anonymous");
    std::strcpy(p->szPassword, "WebUsr@");
    p->llStart = llStart;
    p->llLength = llLength;
    p->llDone = llDone;
    p->pProgress = &progress;
    p->hFile = file.Get();
    return p;
  }
  StopFlag stop{0};
  StopFlag hold{0};
  DownProgress progress;
  platform::CFile file;
  CLogCapture log;
};

TEST_F(FtpTransferTest, ResumedSegmentRunsTheWholeDialogue) {
  FtpScript script{kContent};
  CScriptServer server([&](CScriptConnection& c) { tools::ServeFtp(c, script); });
  auto info = Record(server.Port(), 100000, 150000, 4096);
  EXPECT_EQ(FtpDownThread(info.get()), 0);
  EXPECT_EQ(info->nState.load(), 0);
  EXPECT_EQ(info->llDone.load(), 150000);
  const std::string bytes = tools::ReadWholeFile("ftp.bin");
  ASSERT_EQ(bytes.size(), 250000u);
  EXPECT_EQ(bytes.substr(104096), kContent.substr(104096, 150000 - 4096));
  EXPECT_EQ(Commands(server),
            (std::vector<std::string>{"USER anonymous", "PASS WebUsr@", "TYPE I", "PASV",
                                      "REST 104096", "RETR /pub/f.bin", "ABOR", "QUIT"}));
}

TEST_F(FtpTransferTest, RestIsAlwaysSentAndLargeOffsetsAreDecimal) {
  FtpScript script{std::string(10, 'x')};
  CScriptServer server([&](CScriptConnection& c) { tools::ServeFtp(c, script); });
  auto info = Record(server.Port(), 1048576, 5000, 4096);
  FtpDownThread(info.get());
  auto commands = Commands(server);
  EXPECT_NE(std::find(commands.begin(), commands.end(), "REST 1052672"), commands.end());
}

TEST_F(FtpTransferTest, EachRejectedStepHasItsOwnMessage) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"USER", "ftp user fail"}, {"PASS", "ftp pass fail"}, {"TYPE", "ftp type fail"},
      {"PASV", "ftp pasv fail"}, {"REST", "ftp rest fail"}, {"RETR", "ftp retr fail"}};
  for (const auto& [word, message] : cases) {
    FtpScript script{kContent};
    script.replies[word] = "530 no\r\n";
    CScriptServer server([&](CScriptConnection& c) { tools::ServeFtp(c, script); });
    auto info = Record(server.Port(), 0, 1000);
    EXPECT_EQ(FtpDownThread(info.get()), -1) << word;
    EXPECT_EQ(log.Count(message), 1) << word;
    // No QUIT after a failed step: the sockets are simply closed.
    auto commands = Commands(server);
    EXPECT_EQ(commands.back().substr(0, 4), word);
  }
  FtpScript broken{kContent, "500 broken\r\n"};
  CScriptServer server2([&](CScriptConnection& c) { tools::ServeFtp(c, broken); });
  auto info2 = Record(server2.Port(), 0, 1000);
  EXPECT_EQ(FtpDownThread(info2.get()), -1);
  EXPECT_EQ(log.Count("ftp cmd fail"), 1);
  EXPECT_EQ(tools::ReadWholeFile("ftp.bin"), "");
}

TEST_F(FtpTransferTest, UserAcceptedAtOnceStillSendsThePassword) {
  FtpScript script{std::string(100, 'y')};
  script.replies["USER"] = "230 welcome\r\n";
  CScriptServer server([&](CScriptConnection& c) { tools::ServeFtp(c, script); });
  auto info = Record(server.Port(), 0, 100);
  EXPECT_EQ(FtpDownThread(info.get()), 0);
  EXPECT_EQ(Commands(server).at(1), "PASS WebUsr@");
}

TEST_F(FtpTransferTest, MultiLineGreetingIsAcceptedOnItsFirstCode) {
  FtpScript script{std::string(100, 'y'), "220-Welcome\r\n220-to the mirror\r\n220 ready\r\n"};
  CScriptServer server([&](CScriptConnection& c) { tools::ServeFtp(c, script); });
  auto info = Record(server.Port(), 0, 100);
  EXPECT_EQ(FtpDownThread(info.get()), 0);
}

TEST_F(FtpTransferTest, PasvAddressElsewhereIsIgnoredForTheControlServer) {
  // A hostile server names another host; the data connection must still go
  // to the server we are talking to.
  FtpScript script{kContent.substr(0, 5000)};
  script.pasvAddress = "10,99,99,99";
  CScriptServer server([&](CScriptConnection& c) { tools::ServeFtp(c, script); });
  auto info = Record(server.Port(), 0, 5000);
  EXPECT_EQ(FtpDownThread(info.get()), 0);
  EXPECT_EQ(tools::ReadWholeFile("ftp.bin"), kContent.substr(0, 5000));
  EXPECT_EQ(log.Count("conn2 fail"), 0);
}

TEST_F(FtpTransferTest, ShortDataConnectionKeepsTheBytesThatArrived) {
  FtpScript script{kContent.substr(0, 70000)};
  CScriptServer server([&](CScriptConnection& c) { tools::ServeFtp(c, script); });
  auto info = Record(server.Port(), 0, 100000);
  EXPECT_EQ(FtpDownThread(info.get()), -1);
  EXPECT_EQ(info->llDone.load(), 70000);
  EXPECT_EQ(log.Count("ftp RecvN fail"), 1);
  EXPECT_EQ(tools::ReadWholeFile("ftp.bin"), kContent.substr(0, 70000));
}

TEST_F(FtpTransferTest, OverlongPathsAndRepliesFailCleanly) {
  FtpScript script{kContent};
  CScriptServer server([&](CScriptConnection& c) { tools::ServeFtp(c, script); });
  auto info = Record(server.Port(), 0, 100);
  std::strcpy(info->szRemotePath, ("/" + std::string(300, 'p')).c_str());
  EXPECT_EQ(FtpDownThread(info.get()), -1);
  EXPECT_EQ(log.Count("ftp retr fail"), 1);

  FtpScript chatty{kContent};
  chatty.replies["TYPE"] = "200 " + std::string(400, 't') + "\r\n";
  CScriptServer server2([&](CScriptConnection& c) { tools::ServeFtp(c, chatty); });
  auto info2 = Record(server2.Port(), 0, 100);
  EXPECT_EQ(FtpDownThread(info2.get()), -1);
  EXPECT_EQ(log.Count("ftp type fail"), 1);
}

TEST_F(FtpTransferTest, SizeProbeLogsInAnonymously) {
  FtpScript script{kContent};
  CScriptServer server([&](CScriptConnection& c) { tools::ServeFtp(c, script); });
  const std::string url = "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/pub/f.bin";
  EXPECT_EQ(FtpGetSize(url.c_str(), &stop), 300000);
  EXPECT_EQ(Commands(server), (std::vector<std::string>{"USER anonymous", "PASS WebUsr@", "TYPE I",
                                                        "SIZE /pub/f.bin", "QUIT"}));
  FtpScript missing{kContent};
  missing.replies["SIZE"] = "550 no such file\r\n";
  CScriptServer server2([&](CScriptConnection& c) { tools::ServeFtp(c, missing); });
  const std::string url2 = "ftp://u:p@127.0.0.1:" + std::to_string(server2.Port()) + "/x";
  EXPECT_EQ(FtpGetSize(url2.c_str(), &stop), -1);
  EXPECT_EQ(Commands(server2).at(0), "USER u");
  EXPECT_EQ(FtpGetSize("ftp://nohost", &stop), -1);
  EXPECT_EQ(log.Count("SplitUrl error\n"), 1);
}

TEST_F(FtpTransferTest, RealServerServesASegment) {
  if (!tools::PyFtpdlibAvailable()) GTEST_SKIP() << "pyftpdlib is not installed";
  const std::string root = tools::TestFolder() + "/ftproot";
  platform::CreateDirectory(root);
  ASSERT_TRUE(tools::WriteWholeFile(root + "/f.bin", kContent));
  tools::CPyFtpServer server(root);
  ASSERT_TRUE(server.Started());
  EXPECT_EQ(FtpGetSize(server.Url("/f.bin").c_str(), &stop), 300000);
  auto info = Record(server.Port(), 100000, 100000);
  std::strcpy(info->szRemotePath, "/f.bin");
  EXPECT_EQ(FtpDownThread(info.get()), 0);
  EXPECT_EQ(tools::ReadWholeFile("ftp.bin").substr(100000), kContent.substr(100000, 100000));
}

}  // namespace
