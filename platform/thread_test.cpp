#include "platform/thread.h"

#include <gtest/gtest.h>

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
