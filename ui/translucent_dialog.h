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

// Its black pixels are the holes (the display's colour-key kind).
class CStandardDialog : public CDialog {
 public:
  explicit CStandardDialog(CDialog* pParent) : CDialog(pParent) {}
  void SetTitle(const std::u16string& title) { title_ = title; }

 protected:
  platform::WindowOptions DescribeWindow() override;
  bool OnInitDialog() override;
  // Both close the owner first, then end this dialog.
  void OnOK() override;
  void OnCancel() override;

 private:
  std::u16string title_ = u"Install";
};

class CTranslucentDialog : public CDialog {
 public:
  CTranslucentDialog();
  ~CTranslucentDialog() override;

  // Draws the skin into a transparent picture of the skin's size and shows
  // it as the window's content.
  void Render();
  // The picture Render shows.
  std::unique_ptr<platform::CCanvas> ComposePicture() const;

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
  std::unique_ptr<CStandardDialog> pStandard_;
};

// The skin window of the updater. Its standard dialog comes from the
// factory (the application's main dialog); without one, a plain standard
// dialog with a black key.
class CTranslucentDlg : public CTranslucentDialog {
 public:
  using Factory = std::function<std::unique_ptr<CStandardDialog>(CDialog* pParent)>;
  explicit CTranslucentDlg(Factory factory = nullptr) : factory_(std::move(factory)) {}

 protected:
  std::unique_ptr<CStandardDialog> CreateStandardDialog() override;
  void InitChildWindows() override {}

 private:
  Factory factory_;
};
