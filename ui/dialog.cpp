#include "ui/dialog.h"

#include <algorithm>

void CControl::SetBounds(const platform::Rect& rect) {
  rect_ = rect;
  Invalidate();
}

void CControl::SetVisible(bool bVisible) {
  bVisible_ = bVisible;
  Invalidate();
}

void CControl::SetEnabled(bool bEnabled) {
  bEnabled_ = bEnabled;
  Invalidate();
}

void CControl::Invalidate() {
  if (pParent_ && pParent_->GetSafeHwnd()) platform::InvalidateWindow(pParent_->GetSafeHwnd());
}

CDialog::~CDialog() { DestroyWindow(); }

void CDialog::DestroyWindow() {
  if (hWnd_ == 0) return;
  platform::DestroyDisplayWindow(hWnd_);
  hWnd_ = 0;
}

bool CDialog::Create() {
  if (hWnd_ != 0) return true;
  hWnd_ = platform::CreateDisplayWindow(
      DescribeWindow(), [this](platform::HWND, uint32_t uMsg, platform::WPARAM w, platform::LPARAM l) {
        return WindowProc(uMsg, w, l);
      });
  if (hWnd_ == 0) return false;
  bEnded_ = false;
  if (OnCreate() < 0) {
    DestroyWindow();
    return false;
  }
  OnInitDialog();
  platform::InvalidateWindow(hWnd_);
  return true;
}

int CDialog::DoModal() {
  if (!Create()) return -1;
  platform::ShowWindow(hWnd_, platform::ShowCommand::kShow);
  platform::RunModalLoop([this] { return bEnded_; });
  DestroyWindow();
  return bEnded_ ? nResult_ : IDCANCEL;
}

void CDialog::EndDialog(int nResult) {
  nResult_ = nResult;
  bEnded_ = true;
  if (hWnd_) platform::ShowWindow(hWnd_, platform::ShowCommand::kHide);
}

void CDialog::AddChild(CControl* pChild, int nId) {
  pChild->pParent_ = this;
  pChild->nId_ = nId;
  children_.push_back(pChild);
  pChild->Invalidate();
}

platform::Rect CDialog::ClientRect() const {
  platform::Rect rect;
  if (!platform::GetWindowRect(hWnd_, &rect)) return platform::Rect{};
  return platform::Rect{0, 0, rect.Width(), rect.Height()};
}

void CDialog::OnPaint() {
  const platform::Rect client = ClientRect();
  auto pCanvas = platform::CreateCanvas(client.Width(), client.Height());
  pCanvas->Fill(client, 0xFF000000);
  for (CControl* pChild : children_) {
    if (pChild->IsVisible()) pChild->Paint(*pCanvas);
  }
  platform::SetWindowContent(hWnd_, *pCanvas);
}

platform::LRESULT CDialog::WindowProc(uint32_t uMsg, platform::WPARAM wParam, platform::LPARAM) {
  switch (uMsg) {
    case platform::WM_PAINT:
      OnPaint();
      return 0;
    case platform::WM_CLOSE:
      OnCancel();
      return 0;
    case platform::WM_KEYDOWN:
      if (wParam == platform::VK_RETURN) OnOK();
      if (wParam == platform::VK_ESCAPE) OnCancel();
      return 0;
    case WM_COMMAND:
      OnCommand(static_cast<int>(wParam));
      return 0;
    default:
      return 0;
  }
}
