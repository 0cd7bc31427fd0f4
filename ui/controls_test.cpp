#include "ui/controls.h"

#include <gtest/gtest.h>

#include "ui/bar_layout.h"
#include "ui/language_texts.h"
#include "ui/message_box.h"

namespace {

// A dialog with no window: its children compose into a picture.
class CPlainDialog : public CDialog {
 protected:
  platform::WindowOptions DescribeWindow() override { return platform::WindowOptions{}; }
};

constexpr uint32_t kBlack = 0xFF000000;

struct Fill {
  int nLeft, nWidth, nTop, nHeight;
};

// Everything outside the fill is black, and the fill is wholly lit.
void ExpectOnlyFill(platform::CCanvas& canvas, const Fill& fill) {
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) {
      const bool bInFill = x >= fill.nLeft && x < fill.nLeft + fill.nWidth && y >= fill.nTop &&
                           y < fill.nTop + fill.nHeight;
      if (bInFill) {
        ASSERT_EQ(canvas.Pixel(x, y) >> 24, 0xFFu) << x << "," << y;
        ASSERT_NE(canvas.Pixel(x, y) & 0xFFFFFF, 0u) << x << "," << y;
      } else {
        ASSERT_EQ(canvas.Pixel(x, y), kBlack) << x << "," << y;
      }
    }
  }
}

class BarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog_.AddChild(&main_, 999);
    dialog_.AddChild(&second_, 998);
    // Where the main window puts them.
    main_.SetBounds(platform::Rect{kMainBarBox.x, kMainBarBox.y, kMainBarBox.x + kMainBarBox.w,
                                   kMainBarBox.y + kMainBarBox.h});
    second_.SetBounds(platform::Rect{kSecondBarBox.x, kSecondBarBox.y,
                                     kSecondBarBox.x + kSecondBarBox.w,
                                     kSecondBarBox.y + kSecondBarBox.h});
    main_.SetRange(0, 100);
    second_.SetRange(0, 100);
    main_.SetStyle(1);
  }
  std::unique_ptr<platform::CCanvas> Picture() { return dialog_.ComposeChildren(396, 234); }
  CPlainDialog dialog_;
  CBmpProgCtrl main_, second_;
};

TEST_F(BarTest, TheMainBarFillsItsShareOfTheGrooveAndNoMore) {
  ASSERT_TRUE(main_.SetPos(50));
  ExpectOnlyFill(*Picture(), Fill{37, 166, 193, 15});
  ASSERT_TRUE(main_.SetPos(98));
  ExpectOnlyFill(*Picture(), Fill{37, 326, 193, 15});
  // Beyond the fill picture's width nothing more is drawn.
  ASSERT_TRUE(main_.SetPos(100));
  ExpectOnlyFill(*Picture(), Fill{37, 326, 193, 15});
  ASSERT_TRUE(main_.SetPos(0));
  ExpectOnlyFill(*Picture(), Fill{0, 0, 0, 0});
}

TEST_F(BarTest, TheSecondBarInStyleTwo) {
  main_.SetStyle(0);
  main_.SetPos(80);
  second_.SetStyle(2);
  ASSERT_TRUE(second_.SetPos(69));
  ExpectOnlyFill(*Picture(), Fill{93, 209, 218, 4});
  ASSERT_TRUE(second_.SetPos(100));
  ExpectOnlyFill(*Picture(), Fill{93, 210, 218, 4});
  // Style 0 draws nothing at any position.
  second_.SetStyle(0);
  ExpectOnlyFill(*Picture(), Fill{0, 0, 0, 0});
}

TEST_F(BarTest, RangeAndPositionRules) {
  main_.SetRange(100, 0);
  EXPECT_EQ(main_.Lower(), 0);
  EXPECT_EQ(main_.Upper(), 100);
  ASSERT_TRUE(main_.SetPos(40));
  EXPECT_FALSE(main_.SetPos(101));
  EXPECT_FALSE(main_.SetPos(-1));
  EXPECT_EQ(main_.Pos(), 40);
  EXPECT_TRUE(main_.SetPos(100));
  EXPECT_EQ(main_.Pos(), 100);
  // Equal bounds draw no fill.
  main_.SetRange(7, 7);
  ASSERT_TRUE(main_.SetPos(7));
  ExpectOnlyFill(*Picture(), Fill{0, 0, 0, 0});
  // A new bar starts at 1..100, position 0, style 0.
  CBmpProgCtrl fresh;
  EXPECT_EQ(fresh.Lower(), 1);
  EXPECT_EQ(fresh.Upper(), 100);
  EXPECT_EQ(fresh.Style(), 0);
}

TEST(LabelTest, WhiteTextOnlyInsideItsRectangle) {
  LoadLanguageTexts(3);
  CPlainDialog dialog;
  CXStatic label;
  dialog.AddChild(&label, 1034);
  const platform::Rect rect{40, 50, 40 + 200, 50 + 29};
  label.SetBounds(rect);
  label.SetTextColour(0xFFFFFF);
  label.SetText(u"Verifying client — 正在校验客户端 and then a great deal more text than fits");
  auto pPicture = dialog.ComposeChildren(396, 234);
  int nWhite = 0;
  for (int y = 0; y < 234; ++y) {
    for (int x = 0; x < 396; ++x) {
      const uint32_t p = pPicture->Pixel(x, y);
      if (!rect.Contains(x, y)) {
        ASSERT_EQ(p, kBlack) << x << "," << y;
      } else if (p == 0xFFFFFFFF) {
        ++nWhite;
      }
    }
  }
  EXPECT_GT(nWhite, 100);
}

// A cursor the test moves, on a dialog whose window is at the origin.
struct Cursor {
  int x = -100, y = -100;
};

class ButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCursorReaderForTesting([this](int* pX, int* pY) {
      *pX = cursor_.x;
      *pY = cursor_.y;
      return true;
    });
    dialog_.AddChild(&a_, 1032);
    dialog_.AddChild(&b_, 1031);
    a_.SetBounds(platform::Rect{75, 180, 75 + 99, 180 + 37});
    b_.SetBounds(platform::Rect{222, 180, 222 + 99, 180 + 37});
    a_.SetImages(1250, 1249, 1251, 1250, true, 0, 0, false);
    b_.SetImages(1253, 1252, 1254, 1253, true, 0, 0, false);
  }
  void TearDown() override { SetCursorReaderForTesting(nullptr); }
  // The pointer moves to (x, y): the control under it hears the move, and
  // every running hover timer ticks.
  void MoveTo(int x, int y) {
    cursor_ = Cursor{x, y};
    dialog_.WindowProc(platform::WM_MOUSEMOVE, 0, platform::MakePointParam(x, y));
    a_.OnTimer(kHoverTimer);
    b_.OnTimer(kHoverTimer);
  }
  // The button's pixels in the dialog's picture against a picture's.
  bool Shows(CTButton& button, uint16_t nPictureId) {
    CGdiPlusPngResource png;
    png.Load(nPictureId, "PNG");
    auto pWant = platform::CreateCanvas(99, 37);
    pWant->Fill(platform::Rect{0, 0, 99, 37}, kBlack);
    png.Draw(*pWant, platform::Rect{0, 0, 99, 37});
    auto pPicture = dialog_.ComposeChildren(396, 234);
    const platform::Rect r = button.Bounds();
    for (int y = 0; y < 37; ++y) {
      for (int x = 0; x < 99; ++x) {
        if (pPicture->Pixel(r.left + x, r.top + y) != pWant->Pixel(x, y)) return false;
      }
    }
    return true;
  }
  CPlainDialog dialog_;
  CTButton a_, b_;
  Cursor cursor_;
};

TEST_F(ButtonTest, NormalHoverPressedUntilTheCursorLeaves) {
  EXPECT_TRUE(Shows(a_, 1250));
  MoveTo(100, 190);
  EXPECT_TRUE(a_.IsHovering());
  EXPECT_TRUE(Shows(a_, 1249));
  dialog_.WindowProc(platform::WM_LBUTTONDOWN, 0, platform::MakePointParam(100, 190));
  EXPECT_TRUE(Shows(a_, 1251));
  dialog_.WindowProc(platform::WM_LBUTTONUP, 0, platform::MakePointParam(100, 190));
  MoveTo(101, 191);
  // Still pressed after the release, while the cursor stays.
  EXPECT_TRUE(Shows(a_, 1251));
  MoveTo(10, 10);
  EXPECT_FALSE(a_.IsHovering());
  EXPECT_FALSE(a_.IsPressed());
  EXPECT_TRUE(Shows(a_, 1250));
}

TEST_F(ButtonTest, ADisabledButtonShowsItsPressedPicture) {
  b_.SetEnabled(false);
  EXPECT_TRUE(Shows(b_, 1254));
  b_.SetEnabled(true);
  EXPECT_TRUE(Shows(b_, 1253));
}

TEST_F(ButtonTest, AJumpFromOneButtonOntoAnotherRepaintsBoth) {
  MoveTo(100, 190);
  ASSERT_TRUE(Shows(a_, 1249));
  MoveTo(250, 190);
  EXPECT_FALSE(a_.IsHovering());
  EXPECT_TRUE(b_.IsHovering());
  EXPECT_TRUE(Shows(a_, 1250));
  EXPECT_TRUE(Shows(b_, 1252));
}

TEST_F(ButtonTest, TheBackgroundAtItsOwnPositionLiesOutsideItsPictureAndDrawsNothing) {
  // The box's buttons sit at (75, 180) and (222, 180): far outside a 99×37
  // background. Without state pictures only the fill would show.
  CPlainDialog dialog;
  CTButton bare;
  dialog.AddChild(&bare, 5);
  bare.SetBounds(platform::Rect{75, 180, 75 + 99, 180 + 37});
  bare.SetImages(0, 0, 0, 1250, true, 0, 0, false);
  auto pPicture = dialog.ComposeChildren(396, 234);
  for (int y = 0; y < 234; ++y) {
    for (int x = 0; x < 396; ++x) ASSERT_EQ(pPicture->Pixel(x, y), kBlack) << x << "," << y;
  }
  // At (0, 0) the same background shows.
  bare.SetImages(0, 0, 0, 1250, false, 0, 0, false);
  pPicture = dialog.ComposeChildren(396, 234);
  EXPECT_NE(pPicture->Pixel(75 + 50, 180 + 18), kBlack);
}

TEST(MessageBoxTest, TextStaysInItsRectangleAndTheButtonsSitWhereTheyShould) {
  LoadLanguageTexts(3);
  CDlgMessageBox box;
  std::u16string text;
  for (int i = 0; i < 60; ++i) text += u"A long message that wraps and is cut at the bottom. ";
  box.SetText(text);
  box.LayOut();
  EXPECT_EQ(box.Confirm().Bounds().left, 75);
  EXPECT_EQ(box.Confirm().Bounds().top, 180);
  EXPECT_EQ(box.Cancel().Bounds().left, 222);
  EXPECT_EQ(box.Cancel().Bounds().top, 180);

  auto pPicture = box.ComposePicture();
  CDlgMessageBox empty;
  empty.LayOut();
  auto pBare = empty.ComposePicture();
  ASSERT_EQ(pPicture->Width(), 388);
  ASSERT_EQ(pPicture->Height(), 254);
  const platform::Rect textRect{50, 75, 370, 210};
  int nText = 0, nLastRow = 0;
  for (int y = 0; y < 254; ++y) {
    for (int x = 0; x < 388; ++x) {
      const bool bButton = box.Confirm().Bounds().Contains(x, y) || box.Cancel().Bounds().Contains(x, y);
      if (pPicture->Pixel(x, y) == pBare->Pixel(x, y) || bButton) continue;
      ASSERT_TRUE(textRect.Contains(x, y)) << x << "," << y;
      ++nText;
      nLastRow = std::max(nLastRow, y);
    }
  }
  EXPECT_GT(nText, 1000);
  // Clipped at the bottom: the text reached the last rows of its rectangle.
  EXPECT_GE(nLastRow, 200);
  // The buttons lie above the text.
  auto pConfirm = platform::CreateCanvas(99, 37);
  CGdiPlusPngResource normal;
  normal.Load(1250, "PNG");
  pConfirm->Fill(platform::Rect{0, 0, 99, 37}, kBlack);
  normal.Draw(*pConfirm, platform::Rect{0, 0, 99, 37});
  EXPECT_EQ(pPicture->Pixel(75 + 49, 180 + 18), pConfirm->Pixel(49, 18));
}

TEST(MessageBoxTest, CentredOverTheMainWindow) {
  CDlgMessageBox box;
  box.SetOwnerRect(platform::Rect{314, 267, 314 + 396, 267 + 234});
  const platform::Rect r = box.PlacedRect();
  EXPECT_EQ(r.left, 314 + 4);
  EXPECT_EQ(r.top, 267 - 10);
  EXPECT_EQ(r.Width(), 388);
  EXPECT_EQ(r.Height(), 254);
  // A small owner: the box reaches beyond it on both sides.
  box.SetOwnerRect(platform::Rect{0, 0, 100, 100});
  EXPECT_EQ(box.PlacedRect().left, -144);
  EXPECT_EQ(box.PlacedRect().top, -77);
}

TEST(MessageBoxTest, EnterAndEscapeAreSwallowedAndTheButtonsAnswer) {
  CDlgMessageBox box;
  box.LayOut();
  box.WindowProc(platform::WM_KEYDOWN, platform::VK_RETURN, 0);
  box.WindowProc(platform::WM_KEYDOWN, platform::VK_ESCAPE, 0);
  EXPECT_FALSE(box.IsEnded());
  box.WindowProc(WM_COMMAND, CDlgMessageBox::kConfirm, 0);
  EXPECT_TRUE(box.IsEnded());
  EXPECT_EQ(box.Result(), IDOK);
  CDlgMessageBox other;
  other.WindowProc(WM_COMMAND, CDlgMessageBox::kClose, 0);
  EXPECT_EQ(other.Result(), IDCANCEL);
  CDlgMessageBox closed;
  closed.WindowProc(platform::WM_CLOSE, 0, 0);
  EXPECT_EQ(closed.Result(), IDCANCEL);
}

}  // namespace
