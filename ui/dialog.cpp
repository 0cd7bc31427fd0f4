#include "ui/dialog.h"

#include <algorithm>

platform::Rect CControl::Bounds() const {
  std::lock_guard<std::mutex> lock(lock_);
  return rect_;
}

void CControl::SetBounds(const platform::Rect& rect) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    rect_ = rect;
  }
  Invalidate();
}

bool CControl::IsVisible() const {
  std::lock_guard<std::mutex> lock(lock_);
  return bVisible_;
}

void CControl::SetVisible(bool bVisible) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    bVisible_ = bVisible;
  }
  Invalidate();
}

bool CControl::IsEnabled() const {
  std::lock_guard<std::mutex> lock(lock_);
  return bEnabled_;
}

void CControl::SetEnabled(bool bEnabled) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    bEnabled_ = bEnabled;
  }
  Invalidate();
}

void CControl::Invalidate() {
  if (pParent_ && pParent_->GetSafeHwnd()) platform::InvalidateWindow(pParent_->GetSafeHwnd());
}

CDialog::~CDialog() { DestroyWindow(); }

void CDialog::DestroyWindow() {
  if (hWnd_ == 0) return;
  if (bDisplayWindow_) {
    platform::DestroyDisplayWindow(hWnd_);
  } else {
    platform::DestroyMessageWindow(hWnd_);
  }
  hWnd_ = 0;
}

bool CDialog::CreateWithoutDisplay() {
  if (hWnd_ != 0) return true;
  hWnd_ = platform::CreateMessageWindow([this](platform::HWND, uint32_t uMsg, platform::WPARAM w,
                                               platform::LPARAM l) { return WindowProc(uMsg, w, l); });
  bDisplayWindow_ = false;
  bEnded_ = false;
  OnInitDialog();
  return true;
}

bool CDialog::Create() {
  if (hWnd_ != 0) return true;
  hWnd_ = platform::CreateDisplayWindow(
      DescribeWindow(), [this](platform::HWND, uint32_t uMsg, platform::WPARAM w, platform::LPARAM l) {
        return WindowProc(uMsg, w, l);
      });
  if (hWnd_ == 0) return false;
  bDisplayWindow_ = true;
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

CControl* CDialog::ChildAt(int x, int y) const {
  // The last child drawn is the one on top.
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
    if ((*it)->IsVisible() && (*it)->Bounds().Contains(x, y)) return *it;
  }
  return nullptr;
}

std::unique_ptr<platform::CCanvas> CDialog::ComposeChildren(int nWidth, int nHeight) {
  auto pCanvas = platform::CreateCanvas(nWidth, nHeight);
  pCanvas->Fill(platform::Rect{0, 0, nWidth, nHeight}, 0xFF000000);
  for (CControl* pChild : children_) {
    if (pChild->IsVisible()) pChild->Paint(*pCanvas);
  }
  return pCanvas;
}

void CDialog::OnPaint() {
  if (!bDisplayWindow_) return;
  const platform::Rect client = ClientRect();
  platform::SetWindowContent(hWnd_, *ComposeChildren(client.Width(), client.Height()));
}

platform::LRESULT CDialog::WindowProc(uint32_t uMsg, platform::WPARAM wParam, platform::LPARAM lParam) {
  const int x = platform::PointX(lParam), y = platform::PointY(lParam);
  switch (uMsg) {
    case platform::WM_MOUSEMOVE:
      // Every child hears the pointer: one it has left notices by its timer.
      if (CControl* pChild = ChildAt(x, y)) pChild->OnMouseMove(x, y);
      return 0;
    case platform::WM_LBUTTONDOWN:
      if (CControl* pChild = ChildAt(x, y)) pChild->OnLButtonDown(x, y);
      return 0;
    case platform::WM_LBUTTONUP:
      for (CControl* pChild : children_) pChild->OnLButtonUp(x, y);
      return 0;
    case platform::WM_TIMER:
      // A child's timer carries its identifier in the high bits.
      for (CControl* pChild : children_) {
        if (static_cast<int>(wParam >> 16) == pChild->Id()) pChild->OnTimer(wParam & 0xFFFF);
      }
      return 0;
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
    case kWmEndFromElsewhere:
      EndDialog(static_cast<int>(wParam));
      return 0;
    case WM_COMMAND:
      OnCommand(static_cast<int>(wParam));
      return 0;
    default:
      return 0;
  }
}
