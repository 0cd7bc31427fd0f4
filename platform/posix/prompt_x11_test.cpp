// The plain prompt as a window, on a private X server.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/canvas.h"
#include "platform/display.h"
#include "platform/message.h"
#include "platform/message_box.h"
#include "tools/x_display.h"

namespace {

tools::CPrivateDisplay* const g_pDisplay = tools::AddProgramDisplay(true);

// A prompt shown on a thread of its own; the answer arrives later.
std::future<int> ShowAsync(const std::u16string& caption, platform::PromptButtons buttons) {
  return std::async(std::launch::async, [caption, buttons] {
    return platform::MessageBox(u"The download failed. Try again?", caption, buttons);
  });
}

// Waits for the prompt's window and puts the pointer on it.
unsigned long FindPrompt(tools::CXProbe& probe, const char* caption) {
  const unsigned long window = probe.FindWindow(caption);
  if (window == 0 || !probe.WaitViewable(window, true)) return 0;
  const tools::XRect r = probe.Geometry(window);
  probe.MovePointer(r.x + r.width / 2, r.y + 20);
  return window;
}

TEST(PromptWindowTest, CentredUndecoratedWithItsCaptionAsTitle) {
  tools::CXProbe probe(g_pDisplay->Name());
  auto answer = ShowAsync(u"tips", platform::PromptButtons::kOkCancel);
  const unsigned long window = FindPrompt(probe, "tips");
  ASSERT_NE(window, 0u);
  const tools::XRect r = probe.Geometry(window);
  EXPECT_NEAR(r.x + r.width / 2, 512, 1);
  EXPECT_NEAR(r.y + r.height / 2, 384, 1);
  const std::vector<long> motif = probe.CardinalProperty(window, "_MOTIF_WM_HINTS");
  ASSERT_GE(motif.size(), 3u);
  EXPECT_EQ(motif[2], 0);  // no decorations
  const std::vector<std::string> type = probe.AtomListProperty(window, "_NET_WM_WINDOW_TYPE");
  EXPECT_EQ(type, std::vector<std::string>{"_NET_WM_WINDOW_TYPE_DIALOG"});
  probe.Key("Return");
  ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(answer.get(), platform::IDOK);
  EXPECT_TRUE(probe.WaitViewable(window, false));
}

TEST(PromptWindowTest, EscapeAndTheWindowManagersCloseAreCancelOrOkWhereThereIsNoCancel) {
  tools::CXProbe probe(g_pDisplay->Name());
  {
    auto answer = ShowAsync(u"escape", platform::PromptButtons::kOkCancel);
    ASSERT_NE(FindPrompt(probe, "escape"), 0u);
    probe.Key("Escape");
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(answer.get(), platform::IDCANCEL);
  }
  {
    auto answer = ShowAsync(u"closed", platform::PromptButtons::kOkCancel);
    const unsigned long window = FindPrompt(probe, "closed");
    ASSERT_NE(window, 0u);
    probe.SendClientMessage(window, "WM_PROTOCOLS", probe.InternAtom("WM_DELETE_WINDOW"), 0, 0);
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(answer.get(), platform::IDCANCEL);
  }
  {
    auto answer = ShowAsync(u"damaged", platform::PromptButtons::kOk);
    ASSERT_NE(FindPrompt(probe, "damaged"), 0u);
    probe.Key("Escape");
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(answer.get(), platform::IDOK);
  }
}

TEST(PromptWindowTest, ClicksOnTheButtonsAnswer) {
  tools::CXProbe probe(g_pDisplay->Name());
  for (int nWant : {platform::IDOK, platform::IDCANCEL}) {
    auto answer = ShowAsync(u"click", platform::PromptButtons::kOkCancel);
    const unsigned long window = FindPrompt(probe, "click");
    ASSERT_NE(window, 0u);
    const tools::XRect r = probe.Geometry(window);
    // The buttons sit in the bottom right corner, Cancel rightmost.
    const int y = r.y + r.height - 20 - 15;
    const int x = nWant == platform::IDCANCEL ? r.x + r.width - 20 - 48 : r.x + r.width - 20 - 96 - 12 - 48;
    // A click beside the buttons answers nothing.
    probe.Click(r.x + 30, y);
    EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    probe.Click(x, y);
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(answer.get(), nWant);
    EXPECT_TRUE(probe.WaitViewable(window, false));
  }
}

TEST(PromptWindowTest, TheCallingThreadsWindowsKeepWorkingMeanwhile) {
  tools::CXProbe probe(g_pDisplay->Name());
  std::atomic<int> nTicks{0};
  std::atomic<platform::HWND> hWnd{0};
  std::thread owner([&] {
    hWnd = platform::CreateMessageWindow([&](platform::HWND, uint32_t uMsg, platform::WPARAM, platform::LPARAM) {
      if (uMsg == platform::WM_TIMER) ++nTicks;
      return static_cast<platform::LRESULT>(uMsg == 77 ? 42 : 0);
    });
    platform::SetTimer(hWnd, 1, 10);
    EXPECT_EQ(platform::MessageBox(u"Waiting", u"owner", platform::PromptButtons::kOkCancel), platform::IDOK);
    platform::DestroyMessageWindow(hWnd);
  });
  ASSERT_NE(FindPrompt(probe, "owner"), 0u);
  const int nBefore = nTicks;
  // A send to the prompting thread's window is answered, and its timer runs.
  EXPECT_EQ(platform::SendMessage(hWnd, 77, 0, 0), 42);
  for (int i = 0; i < 200 && nTicks < nBefore + 5; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(nTicks.load(), nBefore + 5);
  // Another thread's prompt does not wait for this one.
  auto second = ShowAsync(u"second", platform::PromptButtons::kOkCancel);
  ASSERT_NE(FindPrompt(probe, "second"), 0u);
  probe.Key("Escape");
  ASSERT_EQ(second.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(second.get(), platform::IDCANCEL);
  ASSERT_NE(FindPrompt(probe, "owner"), 0u);
  probe.Key("Return");
  owner.join();
}

TEST(PromptWindowTest, ChineseTextsHaveEveryGlyph) {
  platform::TextStyle style;
  style.family = "DejaVu Sans, WenQuanYi Micro Hei, sans-serif";
  EXPECT_EQ(platform::CountMissingGlyphs(u"下载失败，是否重试？正在更新客户端", style), 0);
  style.family = "微软雅黑, WenQuanYi Micro Hei, sans-serif";
  EXPECT_EQ(platform::CountMissingGlyphs(u"客户端需要更新。点击确定关闭客户端。", style), 0);
  // The check can fail: a private-use character has no glyph anywhere.
  EXPECT_GT(platform::CountMissingGlyphs(u"\xE000\xE001", style), 0);
}

}  // namespace
