// A small dialog framework on the message layer and the display: a dialog
// is one top-level display window with a procedure, run modally (its own
// loop until it ends) or modelessly (shown and left to the thread's loop).
// Its children are drawn parts of its picture, not windows of their own.
// A dialog and its children live on the thread that created the dialog.
#pragma once

#include <mutex>
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

// A part of a dialog's picture with a rectangle in the dialog's pixels. Its
// setters may be called from any thread: they store under the control's
// lock and ask for a repaint, which the dialog's thread performs.
class CControl {
 public:
  virtual ~CControl() = default;
  // Draws the part into the dialog's picture at its rectangle. Dialog's
  // thread.
  virtual void Paint(platform::CCanvas& canvas) = 0;

  // The pointer, in the dialog's pixels, and the control's timers; the
  // dialog's thread. Nothing by default.
  virtual void OnMouseMove(int /*x*/, int /*y*/) {}
  virtual void OnLButtonDown(int /*x*/, int /*y*/) {}
  virtual void OnLButtonUp(int /*x*/, int /*y*/) {}
  virtual void OnTimer(uintptr_t /*nTimer*/) {}

  int Id() const { return nId_; }
  platform::Rect Bounds() const;
  void SetBounds(const platform::Rect& rect);
  bool IsVisible() const;
  void SetVisible(bool bVisible);
  bool IsEnabled() const;
  void SetEnabled(bool bEnabled);
  CDialog* Parent() const { return pParent_; }
  // Asks the dialog to draw its picture again. Any thread.
  void Invalidate();

 protected:
  // Guards the control's state, here and in subclasses.
  mutable std::mutex lock_;

 private:
  friend class CDialog;
  CDialog* pParent_ = nullptr;
  int nId_ = 0;
  platform::Rect rect_;  // guarded by lock_
  bool bVisible_ = true;  // guarded by lock_
  bool bEnabled_ = true;  // guarded by lock_
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
  CControl* ChildAt(int x, int y) const;

  // The picture of the dialog's children over black, at the size given (the
  // window's, or anything for a dialog without a window).
  std::unique_ptr<platform::CCanvas> ComposeChildren(int nWidth, int nHeight);

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
  // Posted to a dialog, ends it with wParam as the code (EndDialog from
  // another thread).
  static constexpr uint32_t kWmEndFromElsewhere = platform::WM_USER + 0x300;

  // The window's size, from its last known rectangle.
  platform::Rect ClientRect() const;
  // Makes a plain message window instead of a display window (a dialog run
  // without a display) and runs the initialisation; its procedure is the
  // same.
  bool CreateWithoutDisplay();

 private:
  void DestroyWindow();
  CDialog* pParent_;
  platform::HWND hWnd_ = 0;
  bool bDisplayWindow_ = false;
  bool bEnded_ = false;
  int nResult_ = 0;
  std::vector<CControl*> children_;
};
