// The skinned controls: an image button, a text label and a bitmap progress
// bar. Each paints an opaque picture of its rectangle into its dialog's
// picture, black where it shows nothing (transparent in a colour-keyed
// dialog).
#pragma once

#include <functional>
#include <string>

#include "ui/dialog.h"
#include "ui/png_image.h"

// The face the controls ask for, and what stands in for it where it is not
// installed: an installed CJK sans has every glyph of the Chinese texts.
inline constexpr const char* kControlFontFamily =
    "微软雅黑, Microsoft YaHei, WenQuanYi Micro Hei, Noto Sans CJK SC, Droid Sans Fallback, DejaVu Sans, sans-serif";

// A GDI font height (the cell height, ascent plus descent, in pixels) as
// the em size the canvas takes: these faces' cells are about 4/3 of an em.
int FontHeightToPixels(int nHeight);

// Reads the pointer's position on the screen. Tests inject their own; an
// empty reader restores the display's.
using CursorReader = std::function<bool(int* pX, int* pY)>;
void SetCursorReaderForTesting(CursorReader reader);

// The identifier of a button's hover timer, and the dialog timer that
// carries it (the control's identifier in the high bits).
inline constexpr uintptr_t kHoverTimer = 1006;
inline uintptr_t ControlTimerId(int nControlId, uintptr_t nTimer) {
  return (static_cast<uintptr_t>(nControlId) << 16) | nTimer;
}

class CTButton : public CControl {
 public:
  CTButton() = default;
  // Loads the four pictures (type "PNG"; 0 for none) and the background
  // mode: the background is taken from the skin, or else from its own
  // picture, at the button's own position in the dialog or at (x, y).
  void SetImages(uint16_t nNormalId, uint16_t nHoverId, uint16_t nPressedId, uint16_t nBackgroundId,
                 bool bBackgroundAtOwnPosition, int nBackgroundX, int nBackgroundY, bool bUseSkinBackground);
  void SetCaptionStyle(platform::Argb textColour, platform::Argb fillColour, const std::u16string& fontFace,
                       int nFontHeight, bool bBold);
  void SetCaption(const std::u16string& text);

  void Paint(platform::CCanvas& canvas) override;
  void OnMouseMove(int x, int y) override;
  void OnLButtonDown(int x, int y) override;
  void OnLButtonUp(int x, int y) override;
  void OnTimer(uintptr_t nTimer) override;

  bool IsHovering() const { return bHovering_; }
  bool IsPressed() const { return bPressed_; }

 private:
  // The button's rectangle on the screen.
  platform::Rect ScreenRect() const;
  CGdiPlusPngResource normal_, hover_, pressed_, background_;
  uint16_t nNormalId_ = 0;
  bool bUseSkinBackground_ = false;
  bool bBackgroundAtOwnPosition_ = false;
  int nBackgroundX_ = 450, nBackgroundY_ = 10;
  std::u16string caption_;
  platform::Argb textColour_ = 0xFF000000, fillColour_ = 0xFF000000;
  std::u16string fontFace_;
  int nFontHeight_ = 0;
  bool bBold_ = false;
  // The dialog's thread only:
  bool bHovering_ = false;
  bool bHoverTimerRunning_ = false;
  bool bPressed_ = false;
  // One button repaints for the pointer's entry; shared by all of them.
  static inline bool anyButtonHot_ = false;
};

class CXStatic : public CControl {
 public:
  void SetTextColour(platform::Argb colour);
  void SetText(const std::u16string& text);
  std::u16string Text() const;
  platform::Argb TextColour() const;
  void Paint(platform::CCanvas& canvas) override;

 private:
  std::u16string text_;                 // guarded by lock_
  platform::Argb colour_ = 0xFF000000;  // guarded by lock_
};

class CBmpProgCtrl : public CControl {
 public:
  // Loads the fill pictures of both styles.
  CBmpProgCtrl();
  void SetRange(int a, int b);
  void SetStyle(int nStyle);
  // False, and nothing changes, when the position is outside the range.
  bool SetPos(int nPos, const std::u16string& caption = u"");
  int Pos() const;
  int Style() const;
  int Lower() const;
  int Upper() const;
  void Paint(platform::CCanvas& canvas) override;

 private:
  CGdiPlusPngResource fill1_, fill2_;
  int nLower_ = 1, nUpper_ = 100, nPos_ = 0;  // guarded by lock_
  int nStyle_ = 0;                            // guarded by lock_
  std::u16string caption_;                    // guarded by lock_
};
