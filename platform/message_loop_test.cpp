// The loop's other duties: sources it polls beside the queue, timers,
// coalesced paints and modal loops.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/message.h"
#include "platform/sync.h"
#include "platform/wakeup.h"

namespace {

using platform::HWND;
using platform::LPARAM;
using platform::LRESULT;
using platform::WPARAM;

// A wake-up as a loop source: its pump takes what was signalled.
class CSignalSource : public platform::ILoopSource {
 public:
  platform::WaitHandle WaitSource() override { return wakeup_.Handle(); }
  bool Pump() override {
    ++nPumps;
    // Only when signalled: the pump never blocks its loop.
    if (!bWritten.exchange(false)) return false;
    wakeup_.Clear();
    ++nBytes;
    return true;
  }
  void Write() {
    bWritten = true;
    wakeup_.Signal();
  }
  std::atomic<int> nPumps{0};
  std::atomic<int> nBytes{0};
  std::atomic<bool> bWritten{false};

 private:
  platform::CWakeup wakeup_;
};

// A thread with one window, a signalled source and a running loop.
class CLoopThread {
 public:
  explicit CLoopThread(platform::WindowProc proc) {
    thread_ = std::thread([this, proc = std::move(proc)] {
      pSource_ = std::make_shared<CSignalSource>();
      platform::AddLoopSource(pSource_);
      hWnd_ = platform::CreateMessageWindow(proc);
      id_ = std::this_thread::get_id();
      ready_.Set();
      platform::RunMessageLoop();
      platform::RemoveLoopSource(pSource_.get());
    });
    ready_.Wait();
  }
  ~CLoopThread() {
    platform::PostMessage(hWnd_, platform::WM_QUIT, 0, 0);
    thread_.join();
  }
  HWND hWnd() const { return hWnd_; }
  std::thread::id Id() const { return id_; }
  CSignalSource& Source() { return *pSource_; }

 private:
  std::thread thread_;
  platform::CEvent ready_{true, false};
  std::shared_ptr<CSignalSource> pSource_;
  HWND hWnd_ = 0;
  std::thread::id id_;
};

bool WaitUntil(const std::function<bool()>& condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

TEST(MessageLoopTest, ASendReachesALoopAsleepOnItsSources) {
  CLoopThread loop([](HWND, uint32_t uMsg, WPARAM, LPARAM) -> LRESULT { return uMsg + 1; });
  // Let the loop fall asleep in poll.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(platform::SendMessage(loop.hWnd(), 41, 0, 0), 42);
  EXPECT_TRUE(platform::PostMessage(loop.hWnd(), 1, 0, 0));
  EXPECT_EQ(platform::SendMessage(loop.hWnd(), 99, 0, 0), 100);
}

TEST(MessageLoopTest, AReadableSourceIsPumpedOnItsOwnThread) {
  CLoopThread loop([](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT { return 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  loop.Source().Write();
  EXPECT_TRUE(WaitUntil([&] { return loop.Source().nBytes == 1; }));
  loop.Source().Write();
  EXPECT_TRUE(WaitUntil([&] { return loop.Source().nBytes == 2; }));
}

TEST(MessageLoopTest, TimersFireOnTheOwnerThreadUntilKilled) {
  std::atomic<int> nTicks{0}, nOther{0};
  std::atomic<bool> bElsewhere{false};
  std::thread::id owner;
  platform::CEvent started{true, false};
  CLoopThread loop([&](HWND, uint32_t uMsg, WPARAM wParam, LPARAM) -> LRESULT {
    if (uMsg != platform::WM_TIMER) return 0;
    started.Wait();
    if (std::this_thread::get_id() != owner) bElsewhere = true;
    (wParam == 1006 ? nTicks : nOther)++;
    return 0;
  });
  owner = loop.Id();
  started.Set();
  // Set from another thread, delivered on the owner's.
  ASSERT_TRUE(platform::SetTimer(loop.hWnd(), 1006, 10));
  ASSERT_TRUE(platform::SetTimer(loop.hWnd(), 7, 20));
  EXPECT_TRUE(WaitUntil([&] { return nTicks >= 5 && nOther >= 2; }));
  EXPECT_FALSE(bElsewhere);
  EXPECT_TRUE(platform::KillTimer(loop.hWnd(), 1006));
  EXPECT_FALSE(platform::KillTimer(loop.hWnd(), 1006));
  // A tick already being handled may still land; after that, none.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const int nAfterKill = nTicks;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(nTicks.load(), nAfterKill);
  EXPECT_FALSE(platform::SetTimer(0, 1, 10));
}

TEST(MessageLoopTest, InvalidationsInARowPaintOnce) {
  std::atomic<int> nPaints{0};
  platform::CEvent gate{true, false};
  CLoopThread loop([&](HWND, uint32_t uMsg, WPARAM, LPARAM) -> LRESULT {
    if (uMsg == 1) gate.Wait();
    if (uMsg == platform::WM_PAINT) ++nPaints;
    return 0;
  });
  // Held in a handler while the invalidations come in.
  platform::PostMessage(loop.hWnd(), 1, 0, 0);
  for (int i = 0; i < 10; ++i) platform::InvalidateWindow(loop.hWnd());
  gate.Set();
  EXPECT_TRUE(WaitUntil([&] { return nPaints == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(nPaints.load(), 1);
  platform::InvalidateWindow(loop.hWnd());
  EXPECT_TRUE(WaitUntil([&] { return nPaints == 2; }));
}

TEST(MessageLoopTest, PaintsComeAfterPostedMessages) {
  std::vector<uint32_t> seen;
  platform::CEvent gate{true, false}, done{true, false};
  CLoopThread loop([&](HWND, uint32_t uMsg, WPARAM, LPARAM) -> LRESULT {
    if (uMsg == 1) gate.Wait();
    seen.push_back(uMsg);
    if (uMsg == platform::WM_PAINT) done.Set();
    return 0;
  });
  platform::PostMessage(loop.hWnd(), 1, 0, 0);
  platform::InvalidateWindow(loop.hWnd());
  platform::PostMessage(loop.hWnd(), 2, 0, 0);
  gate.Set();
  ASSERT_TRUE(done.Wait(5000));
  EXPECT_EQ(seen, (std::vector<uint32_t>{1, 2, platform::WM_PAINT}));
}

TEST(MessageLoopTest, AModalLoopRunsUntilDoneAndPassesAQuitOn) {
  std::thread thread([] {
    bool bDone = false;
    HWND hWnd = platform::CreateMessageWindow([&](HWND, uint32_t uMsg, WPARAM, LPARAM) -> LRESULT {
      if (uMsg == 5) bDone = true;
      return 0;
    });
    platform::PostMessage(hWnd, 1, 0, 0);
    platform::PostMessage(hWnd, 5, 0, 0);
    EXPECT_TRUE(platform::RunModalLoop([&] { return bDone; }));

    // A quit inside a modal loop ends it and still reaches the outer loop.
    bDone = false;
    platform::PostQuitMessage(9);
    EXPECT_FALSE(platform::RunModalLoop([&] { return bDone; }));
    EXPECT_EQ(platform::RunMessageLoop(), 9);
    platform::DestroyMessageWindow(hWnd);
  });
  thread.join();
}

TEST(MessageLoopTest, ADestroyedWindowGetsNoMoreTimersOrPaints) {
  std::atomic<int> nCalls{0};
  HWND hWnd = platform::CreateMessageWindow([&](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT {
    ++nCalls;
    return 0;
  });
  ASSERT_TRUE(platform::SetTimer(hWnd, 1, 5));
  platform::InvalidateWindow(hWnd);
  platform::DestroyMessageWindow(hWnd);
  EXPECT_FALSE(platform::KillTimer(hWnd, 1));
  EXPECT_TRUE(platform::PumpMessages(50));
  EXPECT_EQ(nCalls.load(), 0);
}

}  // namespace
