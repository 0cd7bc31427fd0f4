#include "app/qarnauto_app.h"

#include <cstdio>

#include "app/main_dialog.h"
#include "platform/crash_dump.h"
#include "platform/environment.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "ui/language_texts.h"

int QarnAutoApp::InitInstance() {
  platform::InstallCrashDumpHandler("ValdrisStartup.dmp");
  const std::string exe = platform::GetModuleFileName();
  const size_t cut = exe.rfind('/');
  platform::SetCurrentDirectory(cut == std::string::npos ? exe : exe.substr(0, cut));
  if (!platform::AcquireInstanceLock("qarnauto")) {
    // The window build ends silently; in a terminal the person who typed
    // the command deserves to know why nothing happened.
    std::fputs("qarnauto is already running\n", stderr);
    std::fflush(stderr);
    platform::ExitProcess(0);
  }
  LoadLanguageTexts(3);
  QarnAutoDlg dialog;
  dialog.OnInitDialog();
  return dialog.Run();
}
