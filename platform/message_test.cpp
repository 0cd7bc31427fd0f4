#include "platform/message.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/sync.h"

namespace {

using platform::HWND;
using platform::LPARAM;
using platform::LRESULT;
using platform::WPARAM;

// A thread that owns one window and runs its message loop.
class COwner {
 public:
  explicit COwner(platform::WindowProc proc) {
    thread_ = std::thread([this, proc = std::move(proc)] {
      hWnd_ = platform::CreateMessageWindow(proc);
      // Kept apart from the window under test, which a test may destroy.
      hControl_ = platform::CreateMessageWindow(
          [](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT { return 0; });
      ownerId_ = std::this_thread::get_id();
      ready_.Set();
      nExitCode_ = platform::RunMessageLoop();
    });
    ready_.Wait();
  }
  ~COwner() { Quit(0); }
  void Quit(int nCode) {
    if (!thread_.joinable()) return;
    platform::PostMessage(hControl_, platform::WM_QUIT, static_cast<WPARAM>(nCode), 0);
    thread_.join();
  }
  HWND hWnd() const { return hWnd_; }
  std::thread::id OwnerId() const { return ownerId_; }
  int ExitCode() const { return nExitCode_; }

 private:
  std::thread thread_;
  platform::CEvent ready_{true, false};
  HWND hWnd_ = 0;
  HWND hControl_ = 0;
  std::thread::id ownerId_;
  int nExitCode_ = -1;
};

TEST(MessageTest, SendRunsTheHandlerOnTheOwnerThreadAndReturnsItsResult) {
  std::atomic<bool> bOnOwner{false};
  std::thread::id owner;
  COwner window([&](HWND, uint32_t uMsg, WPARAM wParam, LPARAM lParam) -> LRESULT {
    bOnOwner = std::this_thread::get_id() == owner;
    return uMsg == 1324 ? static_cast<LRESULT>(wParam) + lParam : -1;
  });
  owner = window.OwnerId();
  EXPECT_EQ(platform::SendMessage(window.hWnd(), 1324, 40, 2), 42);
  EXPECT_TRUE(bOnOwner);
}

TEST(MessageTest, SendBlocksUntilTheHandlerHasFinished) {
  std::atomic<int> nState{0};
  COwner window([&](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    nState = 1;
    return 0;
  });
  platform::SendMessage(window.hWnd(), 1, 0, 0);
  EXPECT_EQ(nState.load(), 1);
}

TEST(MessageTest, PostQueuesInOrderWithoutWaiting) {
  std::vector<int> seen;
  platform::CEvent handled{true, false};
  platform::CEvent gate{true, false};
  COwner window([&](HWND, uint32_t uMsg, WPARAM wParam, LPARAM) -> LRESULT {
    if (uMsg == 1) gate.Wait();
    seen.push_back(static_cast<int>(wParam));
    if (wParam == 3) handled.Set();
    return 0;
  });
  // The first handler is held at the gate: posting must not wait for it.
  EXPECT_TRUE(platform::PostMessage(window.hWnd(), 1, 1, 0));
  EXPECT_TRUE(platform::PostMessage(window.hWnd(), 2, 2, 0));
  EXPECT_TRUE(platform::PostMessage(window.hWnd(), 2, 3, 0));
  gate.Set();
  ASSERT_TRUE(handled.Wait(5000));
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

TEST(MessageTest, SendFromTheOwnerThreadCallsDirectly) {
  HWND hWnd = platform::CreateMessageWindow(
      [](HWND, uint32_t, WPARAM wParam, LPARAM) -> LRESULT { return static_cast<LRESULT>(wParam) * 2; });
  EXPECT_EQ(platform::SendMessage(hWnd, 5, 21, 0), 42);
  platform::DestroyMessageWindow(hWnd);
}

TEST(MessageTest, DestroyedWindowsAndEndedOwnersAnswerZeroAtOnce) {
  HWND hGone;
  {
    COwner window([](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT { return 7; });
    hGone = window.hWnd();
    EXPECT_EQ(platform::SendMessage(hGone, 1, 0, 0), 7);
  }
  EXPECT_FALSE(platform::IsWindow(hGone));
  EXPECT_EQ(platform::SendMessage(hGone, 1, 0, 0), 0);
  EXPECT_FALSE(platform::PostMessage(hGone, 1, 0, 0));
  EXPECT_EQ(platform::SendMessage(0, 1, 0, 0), 0);

  COwner window([](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT { return 7; });
  platform::DestroyMessageWindow(window.hWnd());
  EXPECT_EQ(platform::SendMessage(window.hWnd(), 1, 0, 0), 0);
}

TEST(MessageTest, SenderWaitingOnAnOwnerThatEndsIsReleased) {
  platform::CEvent inLoop{true, false};
  HWND hWnd = 0;
  std::thread owner([&] {
    hWnd = platform::CreateMessageWindow([](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT { return 1; });
    inLoop.Set();
    // Ends without ever running its loop.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  });
  inLoop.Wait();
  auto result = std::async(std::launch::async, [&] { return platform::SendMessage(hWnd, 1, 0, 0); });
  ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  owner.join();
}

TEST(MessageTest, TwoThreadsSendingToEachOtherDoNotDeadlock) {
  HWND hOther = 0;
  COwner a([&](HWND, uint32_t uMsg, WPARAM, LPARAM) -> LRESULT {
    // While a's handler waits on b, b's handler sends back to a.
    return uMsg == 1 ? platform::SendMessage(hOther, 2, 0, 0) + 1 : 100;
  });
  HWND hA = a.hWnd();
  COwner b([&](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT {
    return platform::SendMessage(hA, 3, 0, 0) + 10;
  });
  hOther = b.hWnd();
  EXPECT_EQ(platform::SendMessage(hA, 1, 0, 0), 111);
}

TEST(MessageTest, QuitEndsTheLoopWithItsCode) {
  COwner window([](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT { return 0; });
  window.Quit(3);
  EXPECT_EQ(window.ExitCode(), 3);
}

}  // namespace
