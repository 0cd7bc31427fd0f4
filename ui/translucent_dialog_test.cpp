// The two halves of the main window on a private X server.
#include "ui/translucent_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/display.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "tools/test_support.h"
#include "tools/x_display.h"
#include "ui/png_image.h"

namespace {

using tools::XRect;

// One Xvfb for the whole program: the process has one display connection.
tools::CPrivateDisplay* const g_pDisplay = tools::AddProgramDisplay(true);

// A white square in the standard dialog: something that is not a hole.
class CSquare : public CControl {
 public:
  void Paint(platform::CCanvas& canvas) override { canvas.Fill(Bounds(), 0xFFFFFFFF); }
};

constexpr XRect kSquare{300, 20, 40, 30};  // in the windows' pixels

class CTestStandard : public CStandardDialog {
 public:
  explicit CTestStandard(CDialog* pParent) : CStandardDialog(pParent) { SetTitle(u"Standard"); }

 protected:
  bool OnInitDialog() override {
    CStandardDialog::OnInitDialog();
    AddChild(&square_, 77);
    square_.SetBounds(platform::Rect{kSquare.x, kSquare.y, kSquare.x + kSquare.width, kSquare.y + kSquare.height});
    return true;
  }

 private:
  CSquare square_;
};

// Runs the skin window modally on a thread of its own, as the main thread
// of the updater runs it.
class CSkinRun {
 public:
  CSkinRun() {
    thread_ = std::thread([this] {
      CreateSkinImage();
      CTranslucentDlg dialog([this](CDialog* pParent) {
        auto p = std::make_unique<CTestStandard>(pParent);
        pStandard_ = p.get();
        return p;
      });
      pDialog_ = &dialog;
      nResult_ = dialog.DoModal();
      nStandardResult_ = pStandard_ ? pStandard_->Result() : -1;
      pDialog_ = nullptr;
      ended_.Set();
    });
  }
  ~CSkinRun() {
    if (!ended_.Wait(0)) {
      // A test that failed early: end the dialog through its own thread.
      CTranslucentDlg* pDialog = pDialog_;
      if (pDialog) platform::PostMessage(pDialog->GetSafeHwnd(), platform::WM_CLOSE, 0, 0);
    }
    thread_.join();
  }
  bool WaitEnded(uint32_t dwMilliseconds = 5000) { return ended_.Wait(dwMilliseconds); }
  int Result() const { return nResult_; }
  int StandardResult() const { return nStandardResult_; }
  platform::HWND Skin() {
    CTranslucentDlg* pDialog = pDialog_;
    return pDialog ? pDialog->GetSafeHwnd() : 0;
  }

 private:
  std::thread thread_;
  platform::CEvent ended_{true, false};
  std::atomic<CTranslucentDlg*> pDialog_{nullptr};
  CStandardDialog* pStandard_ = nullptr;
  int nResult_ = -1;
  int nStandardResult_ = -1;
};

struct Windows {
  unsigned long skin = 0, standard = 0;
};

Windows FindWindows(tools::CXProbe& probe) {
  Windows w;
  w.skin = probe.FindWindow("Install");
  w.standard = probe.FindWindow("Standard");
  if (w.skin) probe.WaitViewable(w.skin, true);
  if (w.standard) probe.WaitViewable(w.standard, true);
  return w;
}

// The skin's alpha at a pixel.
uint32_t SkinAlpha(platform::CCanvas& skin, int x, int y) { return skin.Pixel(x, y) >> 24; }

std::unique_ptr<platform::CCanvas> SkinCanvas() {
  CGdiPlusPngResource skin;
  skin.Load(1036, "PNG");
  auto pCanvas = platform::CreateCanvas(396, 234);
  skin.Draw(*pCanvas, platform::Rect{0, 0, 396, 234});
  return pCanvas;
}

TEST(SkinWindowTest, CentredAtTheSkinsSizeWithTheSkinsShape) {
  CSkinRun run;
  tools::CXProbe probe(g_pDisplay->Name());
  const Windows w = FindWindows(probe);
  ASSERT_NE(w.skin, 0u);
  const XRect rect = probe.Geometry(w.skin);
  EXPECT_EQ(rect.x, 314);
  EXPECT_EQ(rect.y, 267);
  EXPECT_EQ(rect.width, 396);
  EXPECT_EQ(rect.height, 234);
  EXPECT_EQ(probe.Depth(w.skin), 32);

  auto pSkin = SkinCanvas();
  const std::vector<XRect> input = probe.Shape(w.skin, true);
  const std::vector<XRect> bounding = probe.Shape(w.skin, false);
  for (int y = 0; y < 234; ++y) {
    for (int x = 0; x < 396; ++x) {
      const bool bThere = SkinAlpha(*pSkin, x, y) > 0;
      ASSERT_EQ(tools::CXProbe::ShapeContains(input, x, y), bThere) << x << "," << y;
      ASSERT_EQ(tools::CXProbe::ShapeContains(bounding, x, y), bThere) << x << "," << y;
    }
  }
  // A transparent corner is not ours for the pointer; the body is.
  probe.MovePointer(rect.x + 1, rect.y + 1);
  EXPECT_NE(probe.WindowUnderPointer(), w.skin);
  EXPECT_NE(probe.WindowUnderPointer(), w.standard);
  probe.MovePointer(rect.x + 100, rect.y + 100);
  EXPECT_EQ(probe.WindowUnderPointer(), w.skin);
}

TEST(SkinWindowTest, TheStandardDialogIsOwnedOffTheTaskbarAndShowsOnlyItsControls) {
  CSkinRun run;
  tools::CXProbe probe(g_pDisplay->Name());
  const Windows w = FindWindows(probe);
  ASSERT_NE(w.standard, 0u);
  EXPECT_EQ(probe.Parent(w.standard), w.skin) << "the standard dialog is not inside the skin";
  const std::vector<std::string> states = probe.AtomListProperty(w.standard, "_NET_WM_STATE");
  EXPECT_NE(std::find(states.begin(), states.end(), "_NET_WM_STATE_SKIP_TASKBAR"), states.end());
  const XRect skin = probe.Geometry(w.skin);
  ASSERT_TRUE(probe.WaitPosition(w.standard, skin.x, skin.y));
  EXPECT_EQ(probe.Geometry(w.standard).width, 396);
  // Its shape is its one non-black child, once painted.
  for (int i = 0; i < 500 && probe.Shape(w.standard, true).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (bool bInput : {true, false}) {
    const std::vector<XRect> shape = probe.Shape(w.standard, bInput);
    for (int y = 0; y < 234; y += 3) {
      for (int x = 0; x < 396; x += 3) {
        ASSERT_EQ(tools::CXProbe::ShapeContains(shape, x, y), kSquare.Contains(x, y)) << x << "," << y;
      }
    }
  }
  // The square shows white on the screen; around it, the skin.
  EXPECT_EQ(probe.ScreenPixel(skin.x + kSquare.x + 5, skin.y + kSquare.y + 5), 0xFFFFFFu);
  EXPECT_NE(probe.ScreenPixel(skin.x + 200, skin.y + 100), 0xFFFFFFu);
}

TEST(SkinWindowTest, ADragOnTheSkinMovesBothWindows) {
  CSkinRun run;
  tools::CXProbe probe(g_pDisplay->Name());
  const Windows w = FindWindows(probe);
  ASSERT_NE(w.skin, 0u);
  const XRect before = probe.Geometry(w.skin);
  ASSERT_TRUE(probe.WaitPosition(w.standard, before.x, before.y));
  probe.MovePointer(before.x + 150, before.y + 120);
  probe.Press();
  // In steps, as a hand moves.
  for (int i = 1; i <= 10; ++i) probe.MovePointer(before.x + 150 + 5 * i, before.y + 120 + 4 * i);
  probe.Release();
  EXPECT_TRUE(probe.WaitPosition(w.skin, before.x + 50, before.y + 40));
  EXPECT_TRUE(probe.WaitPosition(w.standard, before.x + 50, before.y + 40));
}

TEST(SkinWindowTest, ReRenderByClientMessageRestoresUnlessWParamIsOne) {
  CSkinRun run;
  tools::CXProbe probe(g_pDisplay->Name());
  const Windows w = FindWindows(probe);
  ASSERT_NE(w.skin, 0u);
  const XRect rect = probe.Geometry(w.skin);
  const int x = rect.x + 150, y = rect.y + 100;
  const uint32_t original = probe.ScreenPixel(x, y);
  ASSERT_NE(original, 0xFF0000u);
  probe.PaintOver(w.skin, XRect{140, 90, 30, 30}, 0xFF0000);
  ASSERT_EQ(probe.ScreenPixel(x, y), 0xFF0000u);

  probe.SendClientMessage(w.skin, platform::kClientMessageType, WM_RERENDER, 1, 0);
  // A message from outside that the window does not take: a close.
  probe.SendClientMessage(w.skin, platform::kClientMessageType, platform::WM_CLOSE, 0, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(probe.ScreenPixel(x, y), 0xFF0000u);
  EXPECT_FALSE(run.WaitEnded(0));

  probe.SendClientMessage(w.skin, platform::kClientMessageType, WM_RERENDER, 0, 0);
  for (int i = 0; i < 500 && probe.ScreenPixel(x, y) != original; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(probe.ScreenPixel(x, y), original);
}

TEST(SkinWindowTest, MinimiseAndBringToFrontByClientMessage) {
  CSkinRun run;
  tools::CXProbe probe(g_pDisplay->Name());
  const Windows w = FindWindows(probe);
  ASSERT_NE(w.skin, 0u);
  probe.SendClientMessage(w.skin, platform::kClientMessageType, WM_MINIMISE_SKIN, 0, 0);
  EXPECT_TRUE(probe.WaitViewable(w.skin, false));
  probe.SendClientMessage(w.skin, platform::kClientMessageType, WM_BRING_TO_FRONT, 0, 0);
  EXPECT_TRUE(probe.WaitViewable(w.skin, true));
  EXPECT_TRUE(probe.WaitPosition(w.skin, 314, 267));
}

TEST(SkinWindowTest, OkAndCancelOfTheStandardDialogCloseBoth) {
  for (const char* key : {"Return", "Escape"}) {
    CSkinRun run;
    tools::CXProbe probe(g_pDisplay->Name());
    const Windows w = FindWindows(probe);
    ASSERT_NE(w.standard, 0u);
    const XRect rect = probe.Geometry(w.skin);
    // The key goes where the pointer is: on the standard dialog's square.
    for (int i = 0; i < 500 && probe.Shape(w.standard, true).empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    probe.MovePointer(rect.x + kSquare.x + 5, rect.y + kSquare.y + 5);
    ASSERT_EQ(probe.WindowUnderPointer(), w.standard);
    probe.Key(key);
    ASSERT_TRUE(run.WaitEnded()) << key;
    EXPECT_EQ(run.StandardResult(), std::string(key) == "Return" ? IDOK : IDCANCEL);
    // The skin's modal loop ends as a cancel, and both windows are gone.
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_TRUE(probe.WaitViewable(w.skin, false));
    EXPECT_TRUE(probe.WaitViewable(w.standard, false));
  }
}

TEST(SkinWindowTest, TheWindowManagersCloseEndsTheModalLoop) {
  CSkinRun run;
  tools::CXProbe probe(g_pDisplay->Name());
  const Windows w = FindWindows(probe);
  ASSERT_NE(w.skin, 0u);
  // What a window manager sends: WM_PROTOCOLS with WM_DELETE_WINDOW.
  probe.SendClientMessage(w.skin, "WM_PROTOCOLS", probe.InternAtom("WM_DELETE_WINDOW"), 0, 0);
  ASSERT_TRUE(run.WaitEnded());
  EXPECT_EQ(run.Result(), IDCANCEL);
}

TEST(SkinWindowTest, TranslucentPixelsBlendWithWhatLiesBehindUnderACompositor) {
  ASSERT_TRUE(g_pDisplay->StartCompositor());
  tools::CXProbe probe(g_pDisplay->Name());
  probe.SetRootColour(0x204060);
  {
    CSkinRun run;
    const Windows w = FindWindows(probe);
    ASSERT_NE(w.skin, 0u);
    const XRect rect = probe.Geometry(w.skin);
    auto pSkin = SkinCanvas();
    // A pixel of the frame band, alpha 128.
    const int fx = 3, fy = 117;
    ASSERT_EQ(SkinAlpha(*pSkin, fx, fy), 128u);
    const uint32_t p = pSkin->Pixel(fx, fy);
    const uint32_t root = 0x204060;
    uint32_t want = 0;
    for (int shift : {16, 8, 0}) {
      const uint32_t c = ((p >> shift) & 0xFF) + (((root >> shift) & 0xFF) * (255 - 128) + 127) / 255;
      want |= std::min<uint32_t>(c, 255) << shift;
    }
    uint32_t got = 0;
    bool bNear = false;
    for (int i = 0; i < 300 && !bNear; ++i) {
      got = probe.ScreenPixel(rect.x + fx, rect.y + fy);
      bNear = true;
      for (int shift : {16, 8, 0}) {
        bNear = bNear && std::abs(static_cast<int>((got >> shift) & 0xFF) - static_cast<int>((want >> shift) & 0xFF)) <= 2;
      }
      if (!bNear) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(bNear) << std::hex << "got " << got << " want " << want;
  }
  g_pDisplay->StopCompositor();
}

TEST(SkinWindowTest, DisplayErrorsAreLoggedAndNeverEndTheProcess) {
  tools::CLogCapture log;
  CSkinRun run;
  tools::CXProbe probe(g_pDisplay->Name());
  const Windows w = FindWindows(probe);
  ASSERT_NE(w.skin, 0u);
  // Another client destroys the window under the dialog's feet; drawing to
  // it then fails on the server.
  probe.DestroyWindow(w.skin);
  platform::PostMessage(run.Skin(), WM_RERENDER, 0, 0);
  bool bLogged = false;
  for (int i = 0; i < 500 && !bLogged; ++i) {
    for (const std::string& line : log.Lines()) bLogged = bLogged || line.find("display error ignored") == 0;
    if (!bLogged) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(bLogged);
  platform::PostMessage(run.Skin(), platform::WM_CLOSE, 0, 0);
  EXPECT_TRUE(run.WaitEnded());
}

// The probe program on a display of its own.
class CProbeOnOwnDisplay {
 public:
  explicit CProbeOnOwnDisplay(bool bArgbVisual) {
    tools::DisplayOptions options;
    options.bArgbVisual = bArgbVisual;
    options.bExport = false;
    if (!display_.Start(options)) return;
    const std::string ours = platform::GetEnvironmentVariable("DISPLAY");
    platform::SetEnvironmentVariable("DISPLAY", display_.Name());
    pid_ = platform::StartProcess(WINDOW_PROBE, {WINDOW_PROBE, "skin"}, "");
    platform::SetEnvironmentVariable("DISPLAY", ours);
  }
  ~CProbeOnOwnDisplay() {
    display_.Stop();
    if (pid_ != platform::kInvalidProcess) platform::WaitProcess(pid_);
  }
  tools::CPrivateDisplay& Display() { return display_; }
  platform::ProcessId Pid() const { return pid_; }
  // Waits for the program's end; its exit code.
  int Wait() {
    const int nCode = platform::WaitProcess(pid_);
    pid_ = platform::kInvalidProcess;
    return nCode;
  }

 private:
  tools::CPrivateDisplay display_;
  platform::ProcessId pid_ = platform::kInvalidProcess;
};

TEST(SkinWindowTest, WithoutA32BitVisualTheShapeStillCutsTheSkinOut) {
  CProbeOnOwnDisplay run(false);
  ASSERT_NE(run.Pid(), platform::kInvalidProcess);
  tools::CXProbe probe(run.Display().Name());
  ASSERT_TRUE(probe.IsOpen());
  const unsigned long skin = probe.FindWindow("Install");
  ASSERT_NE(skin, 0u);
  ASSERT_TRUE(probe.WaitViewable(skin, true));
  EXPECT_EQ(probe.Depth(skin), 24);
  auto pSkin = SkinCanvas();
  std::vector<XRect> input;
  for (int i = 0; i < 500 && input.empty(); ++i) {
    input = probe.Shape(skin, true);
    if (input.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (int y = 0; y < 234; y += 2) {
    for (int x = 0; x < 396; x += 2) {
      ASSERT_EQ(tools::CXProbe::ShapeContains(input, x, y), SkinAlpha(*pSkin, x, y) > 0) << x << "," << y;
    }
  }
  // No transparent pixel shows black: outside the shape is the desktop.
  const XRect rect = probe.Geometry(skin);
  probe.SetRootColour(0x336699);
  EXPECT_EQ(probe.ScreenPixel(rect.x, rect.y), 0x336699u);
}

TEST(SkinWindowTest, LosingTheDisplayEndsTheProgramWithCodeZero) {
  CProbeOnOwnDisplay run(true);
  ASSERT_NE(run.Pid(), platform::kInvalidProcess);
  {
    tools::CXProbe probe(run.Display().Name());
    const unsigned long skin = probe.FindWindow("Install");
    ASSERT_NE(skin, 0u);
    ASSERT_TRUE(probe.WaitViewable(skin, true));
  }
  run.Display().Stop();
  EXPECT_EQ(run.Wait(), 0);
}

}  // namespace
