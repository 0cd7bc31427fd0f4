#include "engine/resume_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/file.h"
#include "tools/test_support.h"

namespace {

// Little-endian bytes written out by hand, independent of the packer.
std::string I32(int32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
  return s;
}
std::string I64(int64_t v) {
  std::string s(8, '\0');
  for (int i = 0; i < 8; ++i) s[i] = static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF);
  return s;
}
std::string Z(const std::string& text) { return text + std::string(1, '\0'); }

std::string Record(int32_t nState, int32_t nProtocol, int32_t nTag, int32_t nSerial,
                   int32_t nOffset, int64_t llStart, int64_t llLength, int64_t llDone,
                   const std::string& host, const std::string& path, const std::string& user,
                   const std::string& password, int32_t nPort, int32_t nChunk) {
  return I32(nState) + I32(nProtocol) + I32(nTag) + I32(nSerial) + I32(nOffset) + I64(llStart) +
         I64(llLength) + I64(llDone) + Z(host) + Z(path) + Z(user) + Z(password) + I32(nPort) +
         I32(nChunk);
}

std::string Log(const std::vector<std::string>& records) {
  std::string body = I32(static_cast<int32_t>(records.size()));
  for (const std::string& r : records) body += r;
  return I32(static_cast<int32_t>(body.size())) + body;
}

std::unique_ptr<DownThreadInfo> MakeRecord(const char* szHost, int64_t llStart, int64_t llLength,
                                           int64_t llDone) {
  auto p = std::make_unique<DownThreadInfo>();
  p->nProtocol = kProtocolHttp;
  p->nFileTag = 3;
  std::strcpy(p->szHost, szHost);
  std::strcpy(p->szRemotePath, "/f.bin");
  p->nPort = 8080;
  p->llStart = llStart;
  p->llLength = llLength;
  p->llDone = llDone;
  return p;
}

class ResumeLogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto& r : records) platform::CloseFile(r->hLog);
  }
  std::vector<DownThreadInfo*> Pointers() {
    std::vector<DownThreadInfo*> v;
    for (auto& r : records) v.push_back(r.get());
    return v;
  }
  std::string Expected(int32_t firstOffset = 8) {
    std::vector<std::string> packed;
    int32_t offset = firstOffset;
    for (auto& r : records) {
      std::string bytes = Record(r->nState, r->nProtocol, r->nFileTag, r->nSerial, offset,
                                 r->llStart, r->llLength, r->llDone, r->szHost, r->szRemotePath,
                                 r->szUser, r->szPassword, r->nPort, r->nChunkSize);
      offset += static_cast<int32_t>(bytes.size());
      packed.push_back(bytes);
    }
    return Log(packed);
  }
  std::vector<std::unique_ptr<DownThreadInfo>> records;
};

TEST_F(ResumeLogTest, CreateLogWritesEveryRecordAtItsOwnOffset) {
  records.push_back(MakeRecord("a", 0, 3, 0));
  records.push_back(MakeRecord("mirror.example", 3, 3, 1));
  records.push_back(MakeRecord("bb", 6, 4, 4));
  records[2]->nState = 0;
  ASSERT_TRUE(CreateLog("target.bin", Pointers().data(), 3));
  EXPECT_EQ(tools::ReadWholeFile("target.bin.dat"), Expected());
  EXPECT_EQ(records[0]->nLogOffset, 8);
  EXPECT_EQ(records[1]->nLogOffset, 8 + 56 + 1 + 6);
  EXPECT_EQ(records[2]->nLogOffset, 8 + 56 + 1 + 6 + 56 + 14 + 6);
  EXPECT_TRUE(records[0]->hLog.IsValid());
  EXPECT_EQ(records[0]->hLog, records[2]->hLog);
}

TEST_F(ResumeLogTest, LoadLogReadsWhatCreateLogWrote) {
  records.push_back(MakeRecord("h1", 0, 500, 200));
  records.push_back(MakeRecord("h2", 500, 501, 0));
  std::strcpy(records[1]->szUser, "u");
  std::strcpy(records[1]->szPassword, "p");
  records[1]->nProtocol = kProtocolFtp;
  ASSERT_TRUE(CreateLog("round.bin", Pointers().data(), 2));

  std::vector<std::unique_ptr<DownThreadInfo>> loaded;
  ASSERT_TRUE(LoadLog("round.bin", &loaded));
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0]->nSerial, records[0]->nSerial);
  EXPECT_EQ(loaded[0]->llDone.load(), 200);
  EXPECT_EQ(loaded[0]->llDoneAtStart, 200);
  EXPECT_STREQ(loaded[0]->szHost, "h1");
  EXPECT_EQ(loaded[0]->nLogOffset, 8);
  EXPECT_EQ(loaded[1]->nProtocol, kProtocolFtp);
  EXPECT_STREQ(loaded[1]->szPassword, "p");
  EXPECT_EQ(loaded[1]->llStart, 500);
  EXPECT_TRUE(loaded[0]->hLog.IsValid());
  EXPECT_TRUE(LogCoversFile(loaded, 1001));
  EXPECT_FALSE(LogCoversFile(loaded, 1002));
  platform::CloseFile(loaded[0]->hLog);
}

TEST_F(ResumeLogTest, RecordRewritesStayInPlaceUntilTheStringsChangeLength) {
  records.push_back(MakeRecord("h1", 0, 100, 0));
  records.push_back(MakeRecord("h2", 100, 100, 0));
  ASSERT_TRUE(CreateLog("rw.bin", Pointers().data(), 2));
  records[1]->llDone = 60;
  EXPECT_TRUE(WriteLogRecord(*records[1]));
  EXPECT_EQ(tools::ReadWholeFile("rw.bin.dat"), Expected());

  // A redirect to a longer host name: the log is written anew, consistently.
  SetRecordServer(*records[0], "a-much-longer-host", 81, "/moved/f.bin", "", "");
  records[0]->llDone = 10;
  EXPECT_TRUE(WriteLogRecord(*records[0]));
  EXPECT_EQ(tools::ReadWholeFile("rw.bin.dat"), Expected());
  EXPECT_EQ(records[1]->nLogOffset, 8 + 56 + 18 + 12);

  // And a shorter one, which must not leave old bytes behind the last record.
  SetRecordServer(*records[0], "x", 81, "/", "", "");
  EXPECT_TRUE(WriteLogRecord(*records[0]));
  EXPECT_EQ(tools::ReadWholeFile("rw.bin.dat"), Expected());

  std::vector<std::unique_ptr<DownThreadInfo>> loaded;
  ASSERT_TRUE(LoadLog("rw.bin", &loaded));
  EXPECT_STREQ(loaded[0]->szHost, "x");
  EXPECT_EQ(loaded[1]->llDone.load(), 60);
  platform::CloseFile(loaded[0]->hLog);
}

TEST_F(ResumeLogTest, RecordWithoutALogIsNotWritten) {
  DownThreadInfo info;
  EXPECT_TRUE(WriteLogRecord(info));
}

// Each damaged log must read as absent, with nothing read outside the bytes.
TEST(ResumeLogDamageTest, DamagedLogsCountAsAbsent) {
  const std::string good = Record(-1, 1, 1, 1, 8, 0, 10, 5, "h", "/f", "", "", 80, 204800);
  struct Case {
    const char* name;
    std::string bytes;
  };
  auto withBody = [](const std::string& body) { return I32(static_cast<int32_t>(body.size())) + body; };
  const std::vector<Case> cases = {
      {"empty file", ""},
      {"body length 0", I32(0)},
      {"body shorter than said", I32(100) + I32(1) + good},
      {"trailing bytes", Log({good}) + "xx"},
      {"count beyond the body", withBody(I32(2) + good)},
      {"count zero", withBody(I32(0))},
      {"count negative", withBody(I32(-1) + good)},
      {"count huge", withBody(I32(0x7FFFFFFF) + good)},
      {"record cut short", withBody(I32(1) + good.substr(0, 50))},
      {"string without its end", withBody(I32(1) + good.substr(0, 44) + std::string(30, 'h'))},
      {"host longer than its field",
       Log({Record(-1, 1, 1, 1, 8, 0, 10, 0, std::string(1024, 'h'), "/f", "", "", 80, 1024)})},
      {"user longer than its field",
       Log({Record(-1, 2, 1, 1, 8, 0, 10, 0, "h", "/f", std::string(260, 'u'), "", 21, 1024)})},
      {"negative start", Log({Record(-1, 1, 1, 1, 8, -5, 10, 0, "h", "/f", "", "", 80, 1024)})},
      {"negative length", Log({Record(-1, 1, 1, 1, 8, 0, -10, 0, "h", "/f", "", "", 80, 1024)})},
      {"negative done", Log({Record(-1, 1, 1, 1, 8, 0, 10, -1, "h", "/f", "", "", 80, 1024)})},
      {"done beyond length", Log({Record(-1, 1, 1, 1, 8, 0, 10, 11, "h", "/f", "", "", 80, 1024)})},
      {"start plus length overflowing",
       Log({Record(-1, 1, 1, 1, 8, INT64_MAX - 2, 10, 0, "h", "/f", "", "", 80, 1024)})},
      {"segment beyond 2 GiB",
       Log({Record(-1, 1, 1, 1, 8, 0x7FFFFFF0, 0x100, 0, "h", "/f", "", "", 80, 1024)})},
      {"complete but not done", Log({Record(0, 1, 1, 1, 8, 0, 10, 3, "h", "/f", "", "", 80, 1024)})},
      {"chunk above the buffer",
       Log({Record(-1, 1, 1, 1, 8, 0, 10, 0, "h", "/f", "", "", 80, 204801)})},
      {"chunk zero", Log({Record(-1, 1, 1, 1, 8, 0, 10, 0, "h", "/f", "", "", 80, 0)})},
      {"unknown protocol", Log({Record(-1, 7, 1, 1, 8, 0, 10, 0, "h", "/f", "", "", 80, 1024)})},
      {"offset naming another place",
       Log({Record(-1, 1, 1, 1, 12, 0, 10, 0, "h", "/f", "", "", 80, 1024)})},
      {"port out of range", Log({Record(-1, 1, 1, 1, 8, 0, 10, 0, "h", "/f", "", "", 70000, 1024)})},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(tools::WriteWholeFile("damaged.dat", c.bytes));
    std::vector<std::unique_ptr<DownThreadInfo>> loaded;
    EXPECT_FALSE(LoadLog("damaged", &loaded)) << c.name;
    EXPECT_TRUE(loaded.empty()) << c.name;
  }
  ASSERT_TRUE(tools::WriteWholeFile("damaged.dat", Log({good})));
  std::vector<std::unique_ptr<DownThreadInfo>> loaded;
  EXPECT_TRUE(LoadLog("damaged", &loaded));
  platform::CloseFile(loaded.at(0)->hLog);
}

TEST(ResumeLogDamageTest, SegmentsMustTileTheFile) {
  std::vector<std::unique_ptr<DownThreadInfo>> v;
  v.push_back(MakeRecord("h", 5, 5, 0));
  v.push_back(MakeRecord("h", 0, 5, 0));
  EXPECT_TRUE(LogCoversFile(v, 10));
  EXPECT_FALSE(LogCoversFile(v, 9));
  v[0]->llStart = 6;  // a hole at byte 5
  EXPECT_FALSE(LogCoversFile(v, 11));
  v[0]->llStart = 4;  // overlap
  EXPECT_FALSE(LogCoversFile(v, 9));
}

TEST(ResumeLogDamageTest, MissingAndOverlongPathsAreAbsent) {
  std::vector<std::unique_ptr<DownThreadInfo>> loaded;
  EXPECT_FALSE(LoadLog("no-such-target", &loaded));
  EXPECT_FALSE(LoadLog(std::string(300, 'x').c_str(), &loaded));
  DownThreadInfo info;
  DownThreadInfo* p = &info;
  EXPECT_FALSE(CreateLog(std::string(300, 'x').c_str(), &p, 1));
}

class SizeHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h = platform::CFile(platform::OpenFile("f.vx$", platform::kFileRead | platform::kFileWrite,
                                           platform::FileDisposition::kCreateAlways));
    ASSERT_TRUE(h.IsValid());
  }
  platform::CFile h;
};

TEST_F(SizeHeaderTest, ShortHeaderReadsZeroBeyondItsEnd) {
  ASSERT_EQ(platform::WriteFileAt(h.Get(), I64(123456).data(), 8, 0), 8u);
  int64_t v = -1;
  EXPECT_TRUE(GetDownloadSize(h.Get(), 0, &v));
  EXPECT_EQ(v, 123456);
  EXPECT_TRUE(GetDownloadSize(h.Get(), 5, &v));
  EXPECT_EQ(v, 0);
  SetDownloadSize(h.Get(), 2, 777);
  EXPECT_EQ(tools::ReadWholeFile("f.vx$"), I64(123456) + I64(0) + I64(777) + std::string(24, '\0'));
}

TEST_F(SizeHeaderTest, BadSlotsAndHandlesDoNotTouchTheFile) {
  int64_t v = 99;
  EXPECT_FALSE(GetDownloadSize(h.Get(), 6, &v));
  EXPECT_FALSE(GetDownloadSize(platform::FileHandle{}, 0, &v));
  SetDownloadSize(h.Get(), 6, 1);
  SetDownloadSize(platform::FileHandle{}, 0, 1);
  EXPECT_EQ(v, 99);
  EXPECT_EQ(platform::GetFileSize(h.Get()), 0);
}

TEST_F(SizeHeaderTest, ConcurrentSlotUpdatesAreNotLost) {
  std::vector<std::thread> threads;
  for (uint32_t slot = 1; slot <= 2; ++slot) {
    threads.emplace_back([this, slot] {
      for (int64_t i = 1; i <= 2000; ++i) SetDownloadSize(h.Get(), slot, i * slot);
    });
  }
  for (auto& t : threads) t.join();
  int64_t a = 0, b = 0;
  EXPECT_TRUE(GetDownloadSize(h.Get(), 1, &a));
  EXPECT_TRUE(GetDownloadSize(h.Get(), 2, &b));
  EXPECT_EQ(a, 2000);
  EXPECT_EQ(b, 4000);
}

}  // namespace
