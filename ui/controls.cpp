#include "ui/controls.h"

#include <algorithm>

#include "platform/display.h"
#include "ui/bar_layout.h"

namespace {

std::mutex g_cursorLock;
CursorReader g_cursorReader;  // guarded by g_cursorLock

bool ReadCursor(int* pX, int* pY) {
  CursorReader reader;
  {
    std::lock_guard<std::mutex> lock(g_cursorLock);
    reader = g_cursorReader;
  }
  return reader ? reader(pX, pY) : platform::GetCursorPos(pX, pY);
}

platform::Rect Offset(const platform::Rect& r, int dx, int dy) {
  return platform::Rect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

}  // namespace

int FontHeightToPixels(int nHeight) { return std::max(1, (nHeight * 3 + 2) / 4); }

void SetCursorReaderForTesting(CursorReader reader) {
  std::lock_guard<std::mutex> lock(g_cursorLock);
  g_cursorReader = std::move(reader);
}

void CTButton::SetImages(uint16_t nNormalId, uint16_t nHoverId, uint16_t nPressedId, uint16_t nBackgroundId,
                         bool bBackgroundAtOwnPosition, int nBackgroundX, int nBackgroundY,
                         bool bUseSkinBackground) {
  nNormalId_ = nNormalId;
  normal_.Load(nNormalId, "PNG");
  hover_.Load(nHoverId, "PNG");
  pressed_.Load(nPressedId, "PNG");
  background_.Load(nBackgroundId, "PNG");
  bBackgroundAtOwnPosition_ = bBackgroundAtOwnPosition;
  nBackgroundX_ = nBackgroundX;
  nBackgroundY_ = nBackgroundY;
  bUseSkinBackground_ = bUseSkinBackground;
  Invalidate();
}

void CTButton::SetCaptionStyle(platform::Argb textColour, platform::Argb fillColour,
                               const std::u16string& fontFace, int nFontHeight, bool bBold) {
  textColour_ = textColour;
  fillColour_ = fillColour;
  fontFace_ = fontFace;
  nFontHeight_ = nFontHeight;
  bBold_ = bBold;
  Invalidate();
}

void CTButton::SetCaption(const std::u16string& text) {
  caption_ = text;
  Invalidate();
}

platform::Rect CTButton::ScreenRect() const {
  platform::Rect origin;
  if (Parent() == nullptr || !platform::GetWindowRect(Parent()->GetSafeHwnd(), &origin)) origin = platform::Rect{};
  return Offset(Bounds(), origin.left, origin.top);
}

void CTButton::Paint(platform::CCanvas& canvas) {
  const platform::Rect bounds = Bounds();
  const int w = bounds.Width(), h = bounds.Height();
  auto pPicture = platform::CreateCanvas(w, h);
  pPicture->Fill(platform::Rect{0, 0, w, h}, fillColour_ | 0xFF000000);

  const double sx = bBackgroundAtOwnPosition_ ? bounds.left : nBackgroundX_;
  const double sy = bBackgroundAtOwnPosition_ ? bounds.top : nBackgroundY_;
  const CGdiPlusPng* pBackground = bUseSkinBackground_ ? SkinImage() : &background_;
  if (pBackground) {
    // A source beyond the picture (the message box's own position lies
    // outside its 99×37 background) draws nothing.
    pBackground->Draw(*pPicture, platform::RectF{0, 0, double(w), double(h)}, platform::RectF{sx, sy, double(w), double(h)});
  }

  const CGdiPlusPngResource* pState = !IsEnabled() || bPressed_ ? &pressed_ : bHovering_ ? &hover_ : &normal_;
  pState->Draw(*pPicture, platform::Rect{0, 0, static_cast<int>(pState->Width()), static_cast<int>(pState->Height())});
  // The caption is part of the pictures: the design draws it before the
  // composed picture covers the whole button, so it never shows.
  canvas.Fill(bounds, 0xFF000000);
  canvas.DrawCanvas(*pPicture, bounds.left, bounds.top);
}

void CTButton::OnMouseMove(int, int) {
  if (bHoverTimerRunning_ || Parent() == nullptr) return;
  bHoverTimerRunning_ = true;
  platform::SetTimer(Parent()->GetSafeHwnd(), ControlTimerId(Id(), kHoverTimer), 10);
}

void CTButton::OnLButtonDown(int, int) {
  bPressed_ = true;
  Invalidate();
}

void CTButton::OnLButtonUp(int x, int y) {
  // A click is a release over the button that was pressed there.
  if (!bPressed_ || !Bounds().Contains(x, y) || !IsEnabled() || Parent() == nullptr) return;
  platform::PostMessage(Parent()->GetSafeHwnd(), WM_COMMAND, static_cast<platform::WPARAM>(Id()), 0);
}

void CTButton::OnTimer(uintptr_t nTimer) {
  if (nTimer != kHoverTimer) return;
  int x = 0, y = 0;
  const bool bInside = ReadCursor(&x, &y) && ScreenRect().Contains(x, y);
  if (bInside) {
    bHovering_ = true;
    if (!anyButtonHot_) {
      Invalidate();
      anyButtonHot_ = true;
    }
    return;
  }
  bPressed_ = false;
  bHovering_ = false;
  anyButtonHot_ = false;
  if (Parent()) platform::KillTimer(Parent()->GetSafeHwnd(), ControlTimerId(Id(), kHoverTimer));
  bHoverTimerRunning_ = false;
  Invalidate();
}

void CXStatic::SetTextColour(platform::Argb colour) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    colour_ = colour;
  }
  Invalidate();
}

void CXStatic::SetText(const std::u16string& text) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    text_ = text;
  }
  Invalidate();
}

std::u16string CXStatic::Text() const {
  std::lock_guard<std::mutex> lock(lock_);
  return text_;
}

platform::Argb CXStatic::TextColour() const {
  std::lock_guard<std::mutex> lock(lock_);
  return colour_;
}

void CXStatic::Paint(platform::CCanvas& canvas) {
  const platform::Rect bounds = Bounds();
  canvas.Fill(bounds, 0xFF000000);
  platform::TextStyle style;
  style.family = kControlFontFamily;
  style.nPixelHeight = FontHeightToPixels(21);
  style.bBold = true;
  style.colour = TextColour() | 0xFF000000;
  style.bCentreVertically = true;
  canvas.DrawText(Text(), bounds, style);
}

CBmpProgCtrl::CBmpProgCtrl() {
  fill1_.Load(1231, "PNG");
  fill2_.Load(1233, "PNG");
}

void CBmpProgCtrl::SetRange(int a, int b) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    nLower_ = std::min(a, b);
    nUpper_ = std::max(a, b);
  }
  Invalidate();
}

void CBmpProgCtrl::SetStyle(int nStyle) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    nStyle_ = nStyle;
  }
  Invalidate();
}

bool CBmpProgCtrl::SetPos(int nPos, const std::u16string& caption) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    if (nPos < nLower_ || nPos > nUpper_) return false;
    nPos_ = nPos;
    caption_ = caption;
  }
  Invalidate();
  return true;
}

int CBmpProgCtrl::Pos() const {
  std::lock_guard<std::mutex> lock(lock_);
  return nPos_;
}

int CBmpProgCtrl::Style() const {
  std::lock_guard<std::mutex> lock(lock_);
  return nStyle_;
}

int CBmpProgCtrl::Lower() const {
  std::lock_guard<std::mutex> lock(lock_);
  return nLower_;
}

int CBmpProgCtrl::Upper() const {
  std::lock_guard<std::mutex> lock(lock_);
  return nUpper_;
}

void CBmpProgCtrl::Paint(platform::CCanvas& canvas) {
  const platform::Rect bounds = Bounds();
  canvas.Fill(bounds, 0xFF000000);
  int nLower, nUpper, nPos, nStyle;
  {
    std::lock_guard<std::mutex> lock(lock_);
    nLower = nLower_;
    nUpper = nUpper_;
    nPos = nPos_;
    nStyle = nStyle_;
  }
  if (nStyle != 1 && nStyle != 2) return;
  const BarFill& place = nStyle == 1 ? kMainFill : kSecondFill;
  const int nLeft = place.nLeft, nTop = place.nTop, nRight = place.nRight;
  const CGdiPlusPngResource& fill = nStyle == 1 ? fill1_ : fill2_;
  // Equal bounds would divide by zero: they draw no fill.
  if (nUpper == nLower) return;
  const int nFill = static_cast<int>(static_cast<double>(nPos - nLower) / (nUpper - nLower) * (nRight - nLeft));
  if (nFill <= 0 || fill.Image() == nullptr) return;
  const double h = fill.Height();
  // Clipped to the control's own picture.
  auto pPicture = platform::CreateCanvas(bounds.Width(), bounds.Height());
  pPicture->Fill(platform::Rect{0, 0, bounds.Width(), bounds.Height()}, 0xFF000000);
  fill.Draw(*pPicture, platform::RectF{double(nLeft), double(nTop), double(nFill), h}, platform::RectF{0, 0, double(nFill), h});
  canvas.DrawCanvas(*pPicture, bounds.left, bounds.top);
}
