#include "engine/down_engine.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

#include "engine/engine_log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "tools/test_support.h"

namespace {

using tools::CLogCapture;

// A task whose Init plays a scripted part, so the registry and NN_Stop can
// be tested without a network.
enum class Part {
  kWaitForStop,         // waits for a stop, signals, then holds until released
  kFailAfterStopQuiet,  // waits for a stop, returns without ever signalling
  kSucceed,             // returns 1 at once
};

struct Stage {
  std::mutex lock;
  std::vector<CDownBase*> live;  // tasks inside Init
  platform::CEvent release{true, false};
};
Stage* g_stage = nullptr;

class CFakeTask : public CDownBase {
 public:
  CFakeTask() { nType = kTaskNN; }
  int32_t Init(char* szUrl, char* szPath, platform::HWND, int32_t, uint32_t) {
    seenFolder = szPath == nullptr ? "(null)" : szPath;
    Part part = static_cast<Part>(szUrl[0] - '0');
    {
      std::lock_guard<std::mutex> guard(g_stage->lock);
      g_stage->live.push_back(this);
    }
    int32_t nResult = 0;
    if (part == Part::kSucceed) {
      nResult = 1;
    } else {
      while (nStop.load() == 0) platform::Sleep(5);
      if (part == Part::kWaitForStop) {
        hDoneEvent->Set();
        g_stage->release.Wait();
      }
    }
    std::lock_guard<std::mutex> guard(g_stage->lock);
    std::erase(g_stage->live, this);
    return nResult;
  }
  static inline std::string seenFolder;
};

class COddTypeTask : public CFakeTask {
 public:
  COddTypeTask() { nType = 7; }
};

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { g_stage = &stage; }
  void TearDown() override { g_stage = nullptr; }

  template <class TTask = CFakeTask>
  std::future<int32_t> Start(Part part, int32_t nId, StopRule rule = StopRule::kNone) {
    const size_t before = Live();
    auto f = std::async(std::launch::async, [=] {
      const char szUrl[2] = {static_cast<char>('0' + static_cast<int>(part)), 0};
      return RunDownloadCall<TTask>(szUrl, "dl", 0, nId, 0, rule);
    });
    while (Live() == before) platform::Sleep(1);
    return f;
  }
  size_t Live() {
    std::lock_guard<std::mutex> guard(stage.lock);
    return stage.live.size();
  }
  int32_t StopCount(size_t i) {
    std::lock_guard<std::mutex> guard(stage.lock);
    return stage.live.at(i)->nStop.load();
  }
  Stage stage;
  CLogCapture log;
};

TEST_F(RegistryTest, StopOfAnUnknownIdReturnsZero) {
  EXPECT_EQ(NN_Stop(42), 0);
  EXPECT_EQ(log.Messages(),
            (std::vector<std::string>{"NN_Stop in --> id: 42", "NN_stop out <-- id: null"}));
}

TEST_F(RegistryTest, StopFindsTheFirstStartedTaskOfAnIdAndAgainWhileItIsThere) {
  auto first = Start(Part::kWaitForStop, 5);
  auto second = Start(Part::kWaitForStop, 5);
  EXPECT_EQ(NN_Stop(5), 1);
  EXPECT_EQ(StopCount(0), 2);
  EXPECT_EQ(StopCount(1), 0);
  // The first task is still registered: it is found and stopped again.
  EXPECT_EQ(NN_Stop(5), 1);
  EXPECT_EQ(StopCount(0), 2);
  EXPECT_EQ(StopCount(1), 0);
  EXPECT_EQ(log.Count("NN_stop out <-- id: 5"), 2);

  stage.release.Set();
  EXPECT_EQ(first.get(), 0);
  EXPECT_EQ(NN_Stop(5), 1);
  EXPECT_EQ(second.get(), 0);
  EXPECT_EQ(NN_Stop(5), 0);
}

TEST_F(RegistryTest, StopReturnsForATaskThatEndsWithoutSignalling) {
  auto task = Start(Part::kFailAfterStopQuiet, 9);
  auto stopper = std::async(std::launch::async, [] { return NN_Stop(9); });
  ASSERT_EQ(stopper.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "NN_Stop did not return for a task that ended without its done signal";
  EXPECT_EQ(stopper.get(), 1);
  EXPECT_EQ(task.get(), 0);
}

TEST_F(RegistryTest, UnknownTaskTypeIsStoppedWithoutWaiting) {
  stage.release.Set();
  auto task = Start<COddTypeTask>(Part::kWaitForStop, 11);
  EXPECT_EQ(NN_Stop(11), 1);
  EXPECT_EQ(log.Count("NN_stop type error"), 1);
  task.get();
}

TEST_F(RegistryTest, StopRuleTurnsAStoppedResultIntoMinus199) {
  EXPECT_EQ(RunDownloadCall<CFakeTask>("2", "dl", 0, 1, 0, StopRule::kStoppedMeansMinus199), 1);
  stage.release.Set();
  auto stopped = Start(Part::kWaitForStop, 12, StopRule::kStoppedMeansMinus199);
  EXPECT_EQ(NN_Stop(12), 1);
  EXPECT_EQ(stopped.get(), -199);
}

TEST(FolderArgumentTest, RefusesPathsThatCannotTakeTheirSeparator) {
  char szFolder[kPathCapacity];
  CopyFolderArgument(std::string(258, 'a').c_str(), szFolder);
  EXPECT_EQ(std::string(szFolder), std::string(258, 'a'));
  CopyFolderArgument((std::string(258, 'a') + "/").c_str(), szFolder);
  EXPECT_EQ(std::strlen(szFolder), 259u);
  CopyFolderArgument(std::string(259, 'a').c_str(), szFolder);
  EXPECT_STREQ(szFolder, "");
  CopyFolderArgument(std::string(5000, 'a').c_str(), szFolder);
  EXPECT_STREQ(szFolder, "");
  CopyFolderArgument(nullptr, szFolder);
  EXPECT_STREQ(szFolder, "");
}

TEST(EntryPointTest, BadArgumentsFailCleanly) {
  CLogCapture log;
  tools::DeleteRunLog();
  EXPECT_EQ(NN_Down_n1("http://h/f\r\n", std::string(400, 'p').c_str(), 0, 1, 0), 0);
  EXPECT_EQ(NN_Down_n1(nullptr, "dl", 0, 1, 0), 0);
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"input szPath error\n", "input null\n"}));

  EXPECT_EQ(NN_Down_nn("http://h/f\r\n", nullptr, 0, 3, 0), 0);
  platform::Sleep(20);  // notes of one tick would share a section
  EXPECT_EQ(NN_Down_nn("http://h/f\r\n", "", 0, 3, 0), 0);
  EXPECT_EQ(log.Count("NN_nn in --> id: 3"), 2);
  EXPECT_EQ(log.Count("NN_nn out <-- id: 3, exit: 0"), 2);
  EXPECT_EQ(tools::RunLogTexts(),
            (std::vector<std::string>{"input null\n", "input szPath error\n"}));
}

class JudgeDirTest : public ::testing::Test {
 protected:
  void SetUp() override { tools::DeleteRunLog(); }
};

TEST_F(JudgeDirTest, CreatesEveryMissingFolderOfRelativeAndAbsolutePaths) {
  EXPECT_TRUE(JudgeDir("jd/a\\b/c"));
  EXPECT_TRUE(platform::DirectoryExists("jd/a/b/c"));
  EXPECT_TRUE(JudgeDir("jd/a/b/c/"));
  const std::string absolute = tools::TestFolder() + "/abs/x/y";
  EXPECT_TRUE(JudgeDir(absolute.c_str()));
  EXPECT_TRUE(platform::DirectoryExists(absolute));
  EXPECT_TRUE(tools::RunLogTexts().empty());
}

TEST_F(JudgeDirTest, ReportsAFolderItCannotCreate) {
  ASSERT_TRUE(tools::WriteWholeFile("blocker", "x"));
  EXPECT_FALSE(JudgeDir("blocker/inner"));
  // Both notes usually fall into one tick, where the later replaces the earlier.
  std::vector<std::string> notes = tools::RunLogTexts();
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes.back(), "CreateDirectory fail");
  if (notes.size() == 2) {
    EXPECT_EQ(notes[0], "blocker");
  }
  EXPECT_LE(notes.size(), 2u);
  EXPECT_FALSE(platform::DirectoryExists("blocker/inner"));
}

TEST_F(JudgeDirTest, RefusesAPathTooLongForItsBuffer) {
  const std::string longPath = "jl/" + std::string(256, 'q');
  EXPECT_FALSE(JudgeDir(longPath.c_str()));
  EXPECT_FALSE(platform::DirectoryExists("jl"));
  EXPECT_FALSE(JudgeDir(nullptr));
}

}  // namespace
