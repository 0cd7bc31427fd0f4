#include "ui/translucent_dialog.h"

#include "ui/png_image.h"

platform::WindowOptions CStandardDialog::DescribeWindow() {
  platform::WindowOptions options;
  options.kind = platform::WindowKind::kColourKey;
  options.rect = platform::Rect{0, 0, 1, 1};
  options.title = title_;
  options.hOwner = Parent() ? Parent()->GetSafeHwnd() : 0;
  // Its owner has the taskbar entry.
  options.bSkipTaskbar = true;
  // Its controls lie in the skin's grooves: inside the skin's window it
  // moves and stacks with the skin under any window manager.
  options.bInsideOwner = true;
  return options;
}

bool CStandardDialog::OnInitDialog() {
  // The owner's move and size place it.
  platform::MoveWindow(GetSafeHwnd(), platform::Rect{0, 0, 0, 0});
  return true;
}

void CStandardDialog::OnOK() {
  if (Parent() && Parent()->GetSafeHwnd()) {
    platform::SendMessage(Parent()->GetSafeHwnd(), platform::WM_CLOSE, 0, 0);
  }
  EndDialog(IDOK);
}

void CStandardDialog::OnCancel() {
  if (Parent() && Parent()->GetSafeHwnd()) {
    platform::SendMessage(Parent()->GetSafeHwnd(), platform::WM_CLOSE, 0, 0);
  }
  EndDialog(IDCANCEL);
}

CTranslucentDialog::CTranslucentDialog() = default;

CTranslucentDialog::~CTranslucentDialog() {
  pStandard_.reset();
  DestroySkinImage();
}

platform::WindowOptions CTranslucentDialog::DescribeWindow() {
  platform::WindowOptions options;
  options.kind = platform::WindowKind::kAlpha;
  // The template's size; creation sizes the window to the skin.
  options.rect = platform::Rect{0, 0, 333, 188};
  options.title = u"Install";
  options.externalMessages = {WM_RERENDER, WM_MINIMISE_SKIN, WM_BRING_TO_FRONT};
  return options;
}

int CTranslucentDialog::OnCreate() {
  const CGdiPlusPngResource* pSkin = SkinImage();
  // A missing skin gives an empty window, never a failure.
  const int w = pSkin ? static_cast<int>(pSkin->Width()) : 0;
  const int h = pSkin ? static_cast<int>(pSkin->Height()) : 0;
  platform::Rect rect;
  platform::GetWindowRect(GetSafeHwnd(), &rect);
  int x = rect.left, y = rect.top;
  if (centreOnCreate) {
    // The window has no frame, so its window rectangle is the skin's.
    const platform::Rect area = platform::GetWorkArea();
    x = area.left + (area.Width() - w) / 2;
    y = area.top + (area.Height() - h) / 2;
  }
  platform::MoveWindow(GetSafeHwnd(), platform::Rect{x, y, x + w, y + h});
  return 0;
}

bool CTranslucentDialog::OnInitDialog() {
  InitChildWindows();
  pStandard_ = CreateStandardDialog();
  if (pStandard_ && pStandard_->Create()) {
    // The move and size this window had before its standard dialog existed.
    PlaceStandardDialog();
    platform::ShowWindow(pStandard_->GetSafeHwnd(), platform::ShowCommand::kShow);
  }
  Render();
  return true;
}

void CTranslucentDialog::PlaceStandardDialog() {
  platform::Rect rect;
  if (pStandard_ && pStandard_->GetSafeHwnd() && platform::GetWindowRect(GetSafeHwnd(), &rect)) {
    platform::MoveWindow(pStandard_->GetSafeHwnd(), rect);
  }
}

std::unique_ptr<platform::CCanvas> CTranslucentDialog::ComposePicture() const {
  const CGdiPlusPngResource* pSkin = SkinImage();
  const int w = pSkin ? static_cast<int>(pSkin->Width()) : 0;
  const int h = pSkin ? static_cast<int>(pSkin->Height()) : 0;
  auto pCanvas = platform::CreateCanvas(w, h);
  if (pSkin) pSkin->Draw(*pCanvas, platform::Rect{0, 0, w, h});
  return pCanvas;
}

void CTranslucentDialog::Render() {
  if (GetSafeHwnd() == 0) return;
  platform::SetWindowContent(GetSafeHwnd(), *ComposePicture());
}

platform::LRESULT CTranslucentDialog::WindowProc(uint32_t uMsg, platform::WPARAM wParam,
                                                 platform::LPARAM lParam) {
  switch (uMsg) {
    case platform::WM_PAINT:
      // The display keeps the rendered picture; nothing is erased or drawn.
      return 1;
    case platform::WM_MOVE: {
      platform::Rect rect;
      if (pStandard_ && pStandard_->GetSafeHwnd() &&
          platform::GetWindowRect(pStandard_->GetSafeHwnd(), &rect)) {
        const int x = platform::PointX(lParam), y = platform::PointY(lParam);
        platform::MoveWindow(pStandard_->GetSafeHwnd(),
                             platform::Rect{x, y, x + rect.Width(), y + rect.Height()});
      }
      return 0;
    }
    case platform::WM_SIZE: {
      platform::Rect rect;
      if (pStandard_ && pStandard_->GetSafeHwnd() &&
          platform::GetWindowRect(pStandard_->GetSafeHwnd(), &rect)) {
        platform::MoveWindow(pStandard_->GetSafeHwnd(),
                             platform::Rect{rect.left, rect.top, rect.left + platform::PointX(lParam),
                                            rect.top + platform::PointY(lParam)});
      }
      return 0;
    }
    case platform::WM_LBUTTONDOWN:
      if (draggable) platform::BeginWindowMove(GetSafeHwnd());
      return 0;
    case WM_RERENDER:
      if (wParam != 1) Render();
      return 1;
    case WM_MINIMISE_SKIN:
      platform::ShowWindow(GetSafeHwnd(), platform::ShowCommand::kMinimise);
      return 1;
    case WM_BRING_TO_FRONT:
      platform::ShowWindow(GetSafeHwnd(), platform::ShowCommand::kShow);
      platform::SetWindowAbove(GetSafeHwnd(), true);
      platform::SetWindowAbove(GetSafeHwnd(), false);
      return 1;
    case platform::WM_KEYDOWN:
      // Enter and Escape belong to the standard dialog, not to the skin.
      return 0;
    default:
      return CDialog::WindowProc(uMsg, wParam, lParam);
  }
}

std::unique_ptr<CStandardDialog> CTranslucentDlg::CreateStandardDialog() {
  if (factory_) return factory_(this);
  return std::make_unique<CStandardDialog>(this);
}
