// The skinned message box: a 388×254 picture with white text and the
// "Confirm" and "Cancel" image buttons, centred over a rectangle (the main
// window). Runs modally on its caller's thread.
#pragma once

#include <string>

#include "ui/controls.h"

class CDlgMessageBox : public CDialog {
 public:
  static constexpr int kConfirm = 1032;
  static constexpr int kCancel = 1031;
  static constexpr int kClose = 1033;

  CDlgMessageBox();
  // Kept, not used for the layout: the box always shows both buttons.
  void SetType(unsigned nType) { nType_ = nType; }
  // The screen rectangle to centre on.
  void SetOwnerRect(const platform::Rect& rect) { owner_ = rect; }
  void SetText(const std::u16string& text) { text_ = text; }
  // The owner window, kept below the box; 0 for none.
  void SetOwnerWindow(platform::HWND hOwner) { hOwner_ = hOwner; }

  // Where initialisation places the box on the screen.
  platform::Rect PlacedRect() const;
  // The box's picture: background, text, buttons above.
  std::unique_ptr<platform::CCanvas> ComposePicture();
  // Lays out the buttons; done by the initialisation, and by tests that
  // compose a box without a window.
  void LayOut();

  CTButton& Confirm() { return confirm_; }
  CTButton& Cancel() { return cancel_; }

  platform::LRESULT WindowProc(uint32_t uMsg, platform::WPARAM wParam, platform::LPARAM lParam) override;

 protected:
  platform::WindowOptions DescribeWindow() override;
  bool OnInitDialog() override;
  void OnPaint() override;
  void OnCommand(int nId) override;

 private:
  CGdiPlusPngResource background_;
  unsigned nType_ = 0;
  platform::Rect owner_;
  std::u16string text_;
  platform::HWND hOwner_ = 0;
  CTButton confirm_, cancel_, close_;
  bool bLaidOut_ = false;
};
