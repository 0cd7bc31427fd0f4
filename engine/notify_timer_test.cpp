#include "engine/notify_timer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/message.h"
#include "platform/sync.h"

namespace {

using platform::HWND;
using platform::LPARAM;
using platform::LRESULT;
using platform::WPARAM;

struct Received {
  WPARAM wParam;
  LPARAM lParam;
  int32_t nPercent;
  double dSpeed;
  int64_t llDownloaded, llTotal;
  int16_t wHours, wMinutes, wSeconds;
  int32_t nId;
};

// A window on a thread of its own that records every progress message.
class CFakeWindow {
 public:
  CFakeWindow() {
    thread_ = std::thread([this] {
      hWnd_ = platform::CreateMessageWindow([this](HWND, uint32_t uMsg, WPARAM w, LPARAM l) -> LRESULT {
        if (uMsg != WM_DOWN_NOTIFY) return 0;
        const auto* p = reinterpret_cast<const DownProgress*>(w);
        std::lock_guard<std::mutex> lock(lock_);
        seen_.push_back(Received{w, l, p->nPercent, p->dSpeed, p->llDownloaded, p->llTotal,
                                 p->wHours, p->wMinutes, p->wSeconds, p->nId});
        return 0;
      });
      ready_.Set();
      platform::RunMessageLoop();
    });
    ready_.Wait();
  }
  ~CFakeWindow() {
    platform::PostMessage(hWnd_, platform::WM_QUIT, 0, 0);
    thread_.join();
  }
  HWND hWnd() const { return hWnd_; }
  std::vector<Received> Seen() {
    std::lock_guard<std::mutex> lock(lock_);
    return seen_;
  }

 private:
  std::thread thread_;
  platform::CEvent ready_{true, false};
  HWND hWnd_ = 0;
  std::mutex lock_;
  std::vector<Received> seen_;
};

class NotifyTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    task.hWnd = window.hWnd();
    task.progress.nId = 77;
    task.progress.bActive = 1;
  }
  void SetLive(int64_t llDownloaded, int64_t llTotal) {
    std::lock_guard<std::mutex> lock(task.progress.lock);
    task.progress.llDownloaded = llDownloaded;
    task.progress.llTotal = llTotal;
  }
  // Makes the next tick measure over about two seconds.
  void MeasureNextTick() { task.dwLastTick = platform::GetTickCount() - 2000; }

  CFakeWindow window;
  CDownBase task;
};

TEST_F(NotifyTimerTest, TicksWorkOutPercentSpeedAndTimeLeft) {
  SetLive(0, 10000);
  MeasureNextTick();
  OnNotifyTimer(task);
  SetLive(5000, 10000);
  MeasureNextTick();
  OnNotifyTimer(task);
  // No bytes since the last message and no measurement: nothing is sent.
  OnNotifyTimer(task);
  // Bytes without a measurement: sent, with the last measured speed.
  SetLive(6000, 10000);
  OnNotifyTimer(task);

  const std::vector<Received> seen = window.Seen();
  ASSERT_EQ(seen.size(), 3u);
  for (const Received& r : seen) {
    EXPECT_EQ(r.lParam, 999);
    EXPECT_EQ(r.wParam, reinterpret_cast<WPARAM>(&task.notify));
    EXPECT_EQ(r.nId, 77);
    EXPECT_EQ(r.llTotal, 10000);
  }
  EXPECT_EQ(seen[0].nPercent, 0);
  EXPECT_EQ(seen[0].dSpeed, 0.0);
  EXPECT_EQ(seen[0].wSeconds, 0);
  EXPECT_EQ(seen[1].nPercent, 50);
  EXPECT_GT(seen[1].dSpeed, 5000.0 / 2010);  // bytes per millisecond
  EXPECT_LE(seen[1].dSpeed, 5000.0 / 2000);
  EXPECT_EQ(seen[1].wHours, 0);
  EXPECT_EQ(seen[1].wMinutes, 0);
  EXPECT_EQ(seen[1].wSeconds, 2);  // 5000 bytes at 2.5 bytes/ms
  EXPECT_EQ(seen[2].nPercent, 60);
  EXPECT_EQ(seen[2].llDownloaded, 6000);
  EXPECT_EQ(seen[2].dSpeed, seen[1].dSpeed);
}

TEST_F(NotifyTimerTest, LongEstimatesSplitIntoHoursMinutesAndSeconds) {
  SetLive(0, 200000000);
  MeasureNextTick();
  OnNotifyTimer(task);
  SetLive(1000, 200000000);
  MeasureNextTick();
  OnNotifyTimer(task);
  const Received r = window.Seen().back();
  // About 0.5 bytes/ms: some 111 hours for the rest.
  const auto s = static_cast<uint32_t>((200000000.0 - 1000) / r.dSpeed / 1000);
  EXPECT_GE(s, 399000u);
  EXPECT_EQ(r.wHours, static_cast<int16_t>(s / 3600));
  EXPECT_EQ(r.wMinutes, static_cast<int16_t>(s % 3600 / 60));
  EXPECT_EQ(r.wSeconds, static_cast<int16_t>(s % 60));
  EXPECT_LT(r.wMinutes, 60);
}

TEST_F(NotifyTimerTest, TimerSendsAtItsPeriodOnlyWhenThereIsNews) {
  SetLive(0, 1000);
  ASSERT_TRUE(StartNotifyTimer(task, 50));
  platform::Sleep(400);
  // The first tick measures against tick 0 and sends; the quiet ones do not.
  EXPECT_EQ(window.Seen().size(), 1u);
  for (int i = 1; i <= 5; ++i) {
    SetLive(i * 100, 1000);
    platform::Sleep(120);
  }
  StopNotifyTimer(task);
  const std::vector<Received> seen = window.Seen();
  // One message per change at most (a late tick may see two changes at once).
  EXPECT_GE(seen.size(), 3u);
  EXPECT_LE(seen.size(), 7u);
  EXPECT_EQ(seen.back().nPercent, 50);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i].llDownloaded, seen[i - 1].llDownloaded);
}

TEST(PeriodicTimerTest, KillWaitsForARunningCall) {
  platform::CPeriodicTimer timer;
  std::atomic<int> nCalls{0};
  std::atomic<bool> bInside{false};
  ASSERT_TRUE(timer.Start(10, [&] {
    bInside = true;
    platform::Sleep(100);
    ++nCalls;
    bInside = false;
  }));
  EXPECT_FALSE(timer.Start(10, [] {}));
  while (!bInside) platform::Sleep(1);
  timer.Kill();
  EXPECT_FALSE(bInside);
  const int n = nCalls;
  platform::Sleep(50);
  EXPECT_EQ(nCalls.load(), n);
}

}  // namespace
