#include "engine/down_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/down_engine.h"
#include "platform/file.h"
#include "tools/test_support.h"

namespace {

TEST(EqualSegmentTest, PartsCoverTheFileExactlyTheLastTakingTheRemainder) {
  for (int64_t llSize : {int64_t{1}, int64_t{2}, int64_t{51200}, int64_t{1000003}, int64_t{0x7FFFFFFF}}) {
    for (int32_t nParts : {1, 2, 3, 7, 64}) {
      int64_t llNext = 0;
      for (int32_t k = 0; k < nParts; ++k) {
        const Segment s = EqualSegment(llSize, nParts, k);
        ASSERT_EQ(s.llStart, llNext) << llSize << "/" << nParts << " #" << k;
        ASSERT_GE(s.llLength, 0);
        llNext = s.llStart + s.llLength;
      }
      EXPECT_EQ(llNext, llSize) << llSize << "/" << nParts;
    }
  }
  EXPECT_EQ(EqualSegment(10, 3, 2).llLength, 4);
  EXPECT_EQ(EqualSegment(10, 3, 0).llLength, 3);
  EXPECT_EQ(EqualSegment(0, 2, 1).llLength, 0);
  EXPECT_EQ(EqualSegment(100, 0, 0).llLength, 0);
}

TEST(UrlListTest, LinesEndWithCrLfAndTheRestIsKept) {
  UrlList list = SplitUrlList("http://a/x\r\nhttp://b/y\r\nhttp://c/z");
  EXPECT_TRUE(list.bList);
  ASSERT_EQ(list.lines.size(), 2u);
  EXPECT_EQ(list.lines[0], "http://a/x");
  EXPECT_EQ(list.lines[1], "http://b/y");
  EXPECT_EQ(list.rest, "http://c/z");
  list = SplitUrlList("http://a/x\r\n\r\n");
  ASSERT_EQ(list.lines.size(), 2u);
  EXPECT_EQ(list.lines[1], "");
  EXPECT_EQ(list.rest, "");
  // A bare line end is not a list separator; no CRLF, no list.
  list = SplitUrlList("http://a/x\nhttp://b/y");
  EXPECT_FALSE(list.bList);
  EXPECT_TRUE(list.lines.empty());
  EXPECT_EQ(list.rest, "http://a/x\nhttp://b/y");
}

class CallCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { tools::DeleteRunLog(); }
  CDownBase task;
};

TEST_F(CallCheckTest, ARunningTaskMissingTextsAndAnEmptyFolderAreRefusedAndNoted) {
  char szPath[kPathCapacity] = "";
  {
    tools::CLogCapture log;
    EXPECT_FALSE(CheckCallArguments(task, "u", nullptr, NoteLog::kEngineLog));
    EXPECT_FALSE(CheckCallArguments(task, "u", szPath, NoteLog::kEngineLog));
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{"input null\n", "input szPath error\n"}));
    EXPECT_TRUE(tools::RunLogTexts().empty());
  }
  EXPECT_FALSE(CheckCallArguments(task, nullptr, szPath, NoteLog::kRunLog));
  task.progress.bActive = 1;
  std::strcpy(szPath, "folder");
  EXPECT_FALSE(CheckCallArguments(task, "u", szPath, NoteLog::kRunLog));
  EXPECT_EQ(tools::RunLogTexts(), (std::vector<std::string>{"input null\n", "Init error\n"}));
}

TEST_F(CallCheckTest, TheFolderGetsItsSeparatorAndIsMadeOrNamedInTheRunLog) {
  char szPath[kPathCapacity] = "made/here";
  EXPECT_TRUE(CheckCallArguments(task, "u", szPath, NoteLog::kEngineLog));
  EXPECT_STREQ(szPath, "made/here\\");
  EXPECT_TRUE(platform::DirectoryExists("made/here"));
  // A folder that cannot be made: a file stands where it would go.
  tools::WriteWholeFile("blocker", "x");
  char szBlocked[kPathCapacity] = "blocker/inside/";
  EXPECT_FALSE(CheckCallArguments(task, "u", szBlocked, NoteLog::kRunLog));
  // The folder's own note comes first, then the driver's.
  const std::vector<std::string> notes = tools::RunLogTexts();
  ASSERT_GE(notes.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(notes.end() - 3, notes.end()),
            (std::vector<std::string>{"begin judgedir", "blocker/inside/", "JudgeDir error\n"}));
}

TEST(FinalNotificationTest, TheListDriversComesFromTheLiveCountsTheSingleFilesFromTheTimers) {
  struct Seen {
    DownProgress record;
    platform::LPARAM lTag = -1;
  } seen;
  const platform::HWND hWnd = platform::CreateCallbackWindow(
      [&seen](platform::HWND, uint32_t uMsg, platform::WPARAM w, platform::LPARAM l) -> platform::LRESULT {
        if (uMsg != WM_DOWN_NOTIFY) return 0;
        CopyProgressFields(seen.record, *reinterpret_cast<const DownProgress*>(w));
        seen.lTag = l;
        return 1;
      });
  CDownBase task;
  task.hWnd = hWnd;
  task.progress.nId = 7;
  task.progress.llTotal = 1000;
  task.progress.llDownloaded = 250;
  task.notify.nPercent = 10;
  task.notify.dSpeed = 3.5;
  task.notify.bActive = 1;
  SendFinalNotification(task, false, kListNotice);
  EXPECT_EQ(seen.lTag, 999);
  EXPECT_EQ(seen.record.nId, 7);
  EXPECT_EQ(seen.record.nPercent, 25);
  EXPECT_EQ(seen.record.llDownloaded, 250);
  EXPECT_EQ(seen.record.bActive, 0);
  EXPECT_EQ(seen.record.dSpeed, 0);

  CDownBase single;
  single.hWnd = hWnd;
  single.notify.llTotal = 400;
  single.notify.llDownloaded = 100;
  single.notify.nPercent = 25;
  single.notify.dSpeed = 9;
  single.progress.llDownloaded = 300;  // newer than the timer's last report: not taken
  SendFinalNotification(single, false, kSingleFileNotice);
  EXPECT_EQ(seen.lTag, 0);
  EXPECT_EQ(seen.record.llDownloaded, 100);
  EXPECT_EQ(seen.record.nPercent, 25);
  EXPECT_EQ(seen.record.dSpeed, 0);
  SendFinalNotification(single, true, kSingleFileNotice);
  EXPECT_EQ(seen.record.llDownloaded, 400);
  EXPECT_EQ(seen.record.nPercent, 100);
  platform::DestroyMessageWindow(hWnd);
}

}  // namespace
