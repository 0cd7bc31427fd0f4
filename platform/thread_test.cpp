#include "platform/thread.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/sync.h"

namespace {

TEST(ThreadSlotTest, TellsRunningFromEndedAndWaitsForTheFirstToEnd) {
  platform::CEvent gate{true, false};
  platform::CThreadSlot slots[3];
  ASSERT_TRUE(slots[0].Start([&] { gate.Wait(); return 1; }));
  ASSERT_TRUE(slots[2].Start([] { return 7; }));
  platform::CThreadSlot* pointers[] = {&slots[0], &slots[1], &slots[2]};
  EXPECT_EQ(platform::WaitForAnySlot(pointers, 3, 5000), 2);
  EXPECT_EQ(slots[2].ExitCode(), 7);
  EXPECT_TRUE(slots[0].IsRunning());
  EXPECT_FALSE(slots[0].Start([] { return 0; }));

  platform::CThreadSlot* runningOnly[] = {&slots[0], &slots[1]};
  EXPECT_EQ(platform::WaitForAnySlot(runningOnly, 2, 50), -1);
  gate.Set();
  EXPECT_EQ(platform::WaitForAnySlot(runningOnly, 2, platform::kInfinite), 0);
  EXPECT_EQ(slots[0].ExitCode(), 1);
  // An ended slot can run again.
  ASSERT_TRUE(slots[0].Start([] { return 5; }));
  slots[0].Join();
  EXPECT_EQ(slots[0].ExitCode(), 5);
}

// Per-thread state is cleaned up as its thread ends, the latest first, and
// another thread's state stays.
TEST(ThreadExitTest, CallsRunWhenTheirThreadEndsInReverseOrder) {
  static std::vector<int> ran;  // only the test's threads touch it, one at a time
  ran.clear();
  auto note = [](void* pValue) { ran.push_back(*static_cast<int*>(pValue)); };
  int first = 1, second = 2, other = 3;
  std::thread worker([&] {
    platform::AtThreadExit(note, &first);
    platform::AtThreadExit(note, &second);
    EXPECT_TRUE(ran.empty());
  });
  worker.join();
  EXPECT_EQ(ran, (std::vector<int>{2, 1}));
  std::thread another([&] { platform::AtThreadExit(note, &other); });
  another.join();
  EXPECT_EQ(ran, (std::vector<int>{2, 1, 3}));
}

TEST(EventTest, ManualStaysSignalledAutoLetsOneThrough) {
  platform::CEvent manual{true, false};
  EXPECT_FALSE(manual.Wait(10));
  manual.Set();
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));
  manual.Reset();
  EXPECT_FALSE(manual.Wait(0));

  platform::CEvent automatic{false, true};
  EXPECT_TRUE(automatic.Wait(0));
  EXPECT_FALSE(automatic.Wait(0));
}

}  // namespace
