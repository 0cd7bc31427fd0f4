#include "app/qarnauto_app.h"

#include <cstdio>

#include "app/main_dialog.h"
#include "platform/crash_dump.h"
#include "platform/display.h"
#include "platform/environment.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "platform/user_folders.h"
#include "ui/language_texts.h"
#include "ui/message_box.h"
#include "ui/png_image.h"
#include "ui/translucent_dialog.h"

namespace {

CTranslucentDlg* g_pMainWindow = nullptr;  // the main window's thread only
CDlgMessageBox* g_pCurrentBox = nullptr;   // the main window's thread only

}  // namespace

void QarnAutoApp::SetMainWindow(CTranslucentDlg* pWindow) { g_pMainWindow = pWindow; }

int QarnAutoApp::DoMessageBox(const std::u16string& text, unsigned nType) {
  CDlgMessageBox box;
  if (g_pCurrentBox == nullptr) g_pCurrentBox = &box;
  box.SetType(nType);
  platform::Rect owner = platform::GetWorkArea();
  if (g_pMainWindow && g_pMainWindow->GetSafeHwnd()) {
    platform::GetWindowRect(g_pMainWindow->GetSafeHwnd(), &owner);
    box.SetOwnerWindow(g_pMainWindow->GetSafeHwnd());
  }
  box.SetOwnerRect(owner);
  box.SetText(text);
  const int nResult = box.DoModal();
  // A box that ends while an earlier one is shown closes that one too.
  if (g_pCurrentBox && g_pCurrentBox->GetSafeHwnd()) {
    platform::PostMessage(g_pCurrentBox->GetSafeHwnd(), platform::WM_CLOSE, 0, 0);
  }
  g_pCurrentBox = nullptr;
  return nResult < 0 ? IDCANCEL : nResult;
}

void QarnAutoApp::InitInstance() {
  platform::InstallCrashDumpHandler("ValdrisStartup.dmp");
  // The updater works in the folder where its run log and crash dump land:
  // its own, or the user's state folder when installed system-wide.
  platform::SetCurrentDirectory(platform::GetOwnNotesFolder("qarnauto"));
  if (!platform::AcquireInstanceLock("qarnauto")) {
    // The window build ends silently; in a terminal the person who typed
    // the command deserves to know why nothing happened.
    std::fputs("qarnauto is already running\n", stderr);
    std::fflush(stderr);
    platform::ExitProcess(0);
  }
  LoadLanguageTexts(3);
  if (!platform::OpenDisplay()) {
    // No display reachable: the same dialog, shown on the terminal.
    QarnAutoDlg dialog;
    dialog.RunInTerminal();
    platform::ExitProcess(0);
  }
  CreateSkinImage();
  CTranslucentDlg skin([](CDialog* pParent) { return std::make_unique<QarnAutoDlg>(pParent); });
  g_pMainWindow = &skin;
  if (skin.DoModal() < 0) {
    // The display refused the window before anything ran: the terminal
    // still serves.
    g_pMainWindow = nullptr;
    QarnAutoDlg dialog;
    dialog.RunInTerminal();
  }
  // Closed by the window manager, or ended by the dialog: every way out
  // ends the process here, with code 0.
  std::fflush(stdout);
  platform::ExitProcess(0);
}
