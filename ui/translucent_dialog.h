// The main window's two halves: a per-pixel-alpha window that shows the
// skin and is dragged, and a colour-keyed standard dialog, owned by it and
// kept exactly over it, whose black pixels are holes so that only its
// controls show over the skin. Both live on the thread that runs them.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ui/dialog.h"

// Messages other programs may send the skin window (by the display's client
// message): re-render unless wParam is 1, minimise, bring to the front.
inline constexpr uint32_t WM_RERENDER = platform::WM_USER + 444;      // 1468
inline constexpr uint32_t WM_MINIMISE_SKIN = platform::WM_USER + 445;  // 1469
inline constexpr uint32_t WM_BRING_TO_FRONT = platform::WM_USER + 446;  // 1470

class IRenderListener {
 public:
  virtual ~IRenderListener() = default;
  // Asks the implementer to render itself again.
  virtual void RequestRender() = 0;
};

// Blend parameters of the layered update, kept as the design keeps them: the
// display composes the premultiplied picture source-over.
struct BlendFunction {
  uint8_t bBlendOp = 0;              // source-over
  uint8_t bBlendFlags = 0;
  uint8_t bSourceConstantAlpha = 255;
  uint8_t bAlphaFormat = 1;          // per-pixel source alpha
};

class CStandardDialog : public CDialog {
 public:
  // colourKey: the 24-bit RGB colour that is transparent (black in use).
  CStandardDialog(CDialog* pParent, platform::Argb colourKey) : CDialog(pParent), colourKey_(colourKey) {}
  platform::Argb ColourKey() const { return colourKey_; }
  void SetTitle(const std::u16string& title) { title_ = title; }

 protected:
  platform::WindowOptions DescribeWindow() override;
  bool OnInitDialog() override;
  // Both close the owner first, then end this dialog.
  void OnOK() override;
  void OnCancel() override;

 private:
  platform::Argb colourKey_;
  std::u16string title_ = u"Install";
};

class CTranslucentDialog : public CDialog, public IRenderListener {
 public:
  CTranslucentDialog();
  ~CTranslucentDialog() override;

  void RequestRender() override { Render(); }
  // Draws the skin into a transparent picture of the skin's size and shows
  // it as the window's content.
  void Render();
  // The picture Render shows.
  std::unique_ptr<platform::CCanvas> ComposePicture() const;

  CStandardDialog* StandardDialog() const { return pStandard_.get(); }
  const BlendFunction& Blend() const { return blend_; }

  platform::LRESULT WindowProc(uint32_t uMsg, platform::WPARAM wParam, platform::LPARAM lParam) override;

 protected:
  virtual std::unique_ptr<CStandardDialog> CreateStandardDialog() = 0;
  virtual void InitChildWindows() = 0;

  platform::WindowOptions DescribeWindow() override;
  int OnCreate() override;
  bool OnInitDialog() override;

  bool draggable = true;       // a left-button press anywhere moves the window
  bool centreOnCreate = true;  // centred in the work area at creation

 private:
  void PlaceStandardDialog();
  BlendFunction blend_;
  std::unique_ptr<CStandardDialog> pStandard_;
};

// The skin window of the updater. Its standard dialog comes from the
// factory (the application's main dialog); without one, a plain standard
// dialog with a black key.
class CTranslucentDlg : public CTranslucentDialog {
 public:
  using Factory = std::function<std::unique_ptr<CStandardDialog>(CDialog* pParent)>;
  // The skin's identifier and type are those the skin image already holds.
  explicit CTranslucentDlg(Factory factory = nullptr, uint16_t nSkinId = 1036, const char* szSkinType = "PNG")
      : factory_(std::move(factory)), nSkinId_(nSkinId), szSkinType_(szSkinType) {}

 protected:
  std::unique_ptr<CStandardDialog> CreateStandardDialog() override;
  void InitChildWindows() override {}

 private:
  Factory factory_;
  [[maybe_unused]] uint16_t nSkinId_;
  [[maybe_unused]] const char* szSkinType_;
};
