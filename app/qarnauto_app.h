// The application object: prepares the process and runs the main window.
#pragma once

#include <string>

#include "platform/canvas.h"

class CTranslucentDlg;

class QarnAutoApp {
 public:
  // Crash filter, working folder = the executable's folder, single instance,
  // texts; then, with a display, the skin window with the main dialog over
  // it, else the main dialog in the terminal. The process ends inside.
  [[noreturn]] void InitInstance();

  // The message-box hook: shows the text as a skinned box centred over the
  // main window (over the work area without one) and returns 1 (confirm) or
  // 2 (cancel or close). A box that opens while another is shown closes the
  // first one when it ends. The main window's thread.
  static int DoMessageBox(const std::u16string& text, unsigned nType);
  // The window the boxes centre on (tests and tools set their own).
  static void SetMainWindow(CTranslucentDlg* pWindow);
};
