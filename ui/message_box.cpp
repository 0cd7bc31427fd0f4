#include "ui/message_box.h"

#include "ui/language_texts.h"

CDlgMessageBox::CDlgMessageBox() { background_.Load(1248, "PNG"); }

platform::Rect CDlgMessageBox::PlacedRect() const {
  const int w = static_cast<int>(background_.Width()), h = static_cast<int>(background_.Height());
  // A box larger than its owner reaches beyond it equally on both sides.
  const int left = owner_.left + (owner_.Width() - w) / 2;
  const int top = owner_.top + (owner_.Height() - h) / 2;
  return platform::Rect{left, top, left + w, top + h};
}

platform::WindowOptions CDlgMessageBox::DescribeWindow() {
  platform::WindowOptions options;
  options.kind = platform::WindowKind::kOpaque;
  options.rect = PlacedRect();
  if (options.rect.Width() <= 0 || options.rect.Height() <= 0) {
    options.rect = platform::Rect{owner_.left, owner_.top, owner_.left + 1, owner_.top + 1};
  }
  options.title = GetText(TextKey::WindowsText);
  options.hOwner = hOwner_;
  return options;
}

void CDlgMessageBox::LayOut() {
  if (bLaidOut_) return;
  bLaidOut_ = true;
  AddChild(&confirm_, kConfirm);
  AddChild(&cancel_, kCancel);
  AddChild(&close_, kClose);
  confirm_.SetBounds(platform::Rect{75, 180, 75 + 99, 180 + 37});
  confirm_.SetCaptionStyle(0xFF000000, 0xFF000000, u"微软雅黑", 14, true);
  confirm_.SetCaption(GetText(TextKey::Ok));
  cancel_.SetBounds(platform::Rect{222, 180, 222 + 99, 180 + 37});
  cancel_.SetCaptionStyle(0xFF000000, 0xFF000000, u"微软雅黑", 14, true);
  cancel_.SetCaption(GetText(TextKey::Cancle));
  close_.SetVisible(false);
  cancel_.SetImages(1253, 1252, 1254, 1253, true, 0, 0, false);
  confirm_.SetImages(1250, 1249, 1251, 1250, true, 0, 0, false);
}

bool CDlgMessageBox::OnInitDialog() {
  platform::MoveWindow(GetSafeHwnd(), PlacedRect());
  LayOut();
  return true;
}

std::unique_ptr<platform::CCanvas> CDlgMessageBox::ComposePicture() {
  const int w = static_cast<int>(background_.Width()), h = static_cast<int>(background_.Height());
  auto pCanvas = platform::CreateCanvas(w, h);
  pCanvas->Fill(platform::Rect{0, 0, w, h}, 0xFF000000);
  background_.Draw(*pCanvas, platform::RectF{0, 0, double(w), double(h)}, platform::RectF{0, 0, double(w), double(h)});
  platform::TextStyle style;
  style.family = kControlFontFamily;
  style.nPixelHeight = FontHeightToPixels(18);
  style.bBold = true;
  style.colour = 0xFFFFFFFF;
  style.wrap = platform::TextWrap::kWordWrap;
  pCanvas->DrawText(text_, platform::Rect{50, 75, 370, 210}, style);
  // The buttons are windows above the box's own painting.
  for (CControl* pChild : Children()) {
    if (pChild->IsVisible()) pChild->Paint(*pCanvas);
  }
  return pCanvas;
}

void CDlgMessageBox::OnPaint() { platform::SetWindowContent(GetSafeHwnd(), *ComposePicture()); }

void CDlgMessageBox::OnCommand(int nId) {
  if (nId == kConfirm) EndDialog(IDOK);
  if (nId == kCancel || nId == kClose) EndDialog(IDCANCEL);
}

platform::LRESULT CDlgMessageBox::WindowProc(uint32_t uMsg, platform::WPARAM wParam, platform::LPARAM lParam) {
  // Enter and Escape never end the box: only its buttons do.
  if (uMsg == platform::WM_KEYDOWN && (wParam == platform::VK_RETURN || wParam == platform::VK_ESCAPE)) return 0;
  return CDialog::WindowProc(uMsg, wParam, lParam);
}
