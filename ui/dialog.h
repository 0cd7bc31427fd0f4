// A small dialog framework on the message layer and the display: a dialog
// is one top-level display window with a procedure, run modally (its own
// loop until it ends) or modelessly (shown and left to the thread's loop).
// Its children are drawn parts of its picture, not windows of their own.
// A dialog and its children live on the thread that created the dialog.
#pragma once

#include <vector>

#include "platform/canvas.h"
#include "platform/display.h"
#include "platform/message.h"

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// The notification of a child to its dialog: wParam is the child's
// identifier, as the platform's button click is.
inline constexpr uint32_t WM_COMMAND = 0x0111;

class CDialog;

// A part of a dialog's picture with a rectangle in the dialog's pixels.
class CControl {
 public:
  virtual ~CControl() = default;
  // Draws the part into the dialog's picture at its rectangle.
  virtual void Paint(platform::CCanvas& canvas) = 0;

  int Id() const { return nId_; }
  const platform::Rect& Bounds() const { return rect_; }
  void SetBounds(const platform::Rect& rect);
  bool IsVisible() const { return bVisible_; }
  void SetVisible(bool bVisible);
  bool IsEnabled() const { return bEnabled_; }
  void SetEnabled(bool bEnabled);
  CDialog* Parent() const { return pParent_; }
  // Asks the dialog to draw its picture again. Any thread.
  void Invalidate();

 private:
  friend class CDialog;
  CDialog* pParent_ = nullptr;
  int nId_ = 0;
  platform::Rect rect_;
  bool bVisible_ = true;
  bool bEnabled_ = true;
};

class CDialog {
 public:
  explicit CDialog(CDialog* pParent = nullptr) : pParent_(pParent) {}
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;
  virtual ~CDialog();

  platform::HWND GetSafeHwnd() const { return hWnd_; }
  CDialog* Parent() const { return pParent_; }

  // Modeless: makes the window, runs the creation and the initialisation.
  // False when no window could be made (no display) or creation failed.
  bool Create();
  // Modal: Create, show, handle the thread's messages until EndDialog, then
  // destroy the window. The code given to EndDialog, or -1 when no window
  // could be made.
  int DoModal();
  // Ends the dialog with the code: hides its window and ends its modal
  // loop. Dialog's thread.
  void EndDialog(int nResult);
  bool IsEnded() const { return bEnded_; }
  int Result() const { return nResult_; }

  // Attaches a child with an identifier; the dialog does not own it.
  void AddChild(CControl* pChild, int nId);
  const std::vector<CControl*>& Children() const { return children_; }

  // The dialog's procedure: the default handling of what the display and
  // the children send. Subclasses handle theirs, then call this one.
  virtual platform::LRESULT WindowProc(uint32_t uMsg, platform::WPARAM wParam, platform::LPARAM lParam);

 protected:
  // The window to make: kind, initial rectangle, title, owner.
  virtual platform::WindowOptions DescribeWindow() = 0;
  // The creation message, before the initialisation; -1 fails creation.
  virtual int OnCreate() { return 0; }
  virtual bool OnInitDialog() { return true; }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // Draws the picture and shows it; the default composes the visible
  // children over a black picture of the window's size.
  virtual void OnPaint();
  // A child's click; nothing by default.
  virtual void OnCommand(int /*nId*/) {}

  // The window's size, from its last known rectangle.
  platform::Rect ClientRect() const;

 private:
  void DestroyWindow();
  CDialog* pParent_;
  platform::HWND hWnd_ = 0;
  bool bEnded_ = false;
  int nResult_ = 0;
  std::vector<CControl*> children_;
};
