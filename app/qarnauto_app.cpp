#include "app/qarnauto_app.h"

#include <cstdio>

#include "app/main_dialog.h"
#include "platform/crash_dump.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "ui/language_texts.h"

namespace {

// The updater works in its own folder, where its run log and crash dump
// land. Installed system-wide that folder is not the user's to write, and
// the notes would be lost: then a folder of the user's state is used.
std::string WorkingFolder() {
  const std::string exe = platform::GetModuleFileName();
  const size_t cut = exe.rfind('/');
  const std::string own = cut == std::string::npos ? exe : exe.substr(0, cut);
  if (platform::IsWritableDirectory(own)) return own;
  std::string state = platform::GetEnvironmentVariable("XDG_STATE_HOME");
  if (state.empty() || state.front() != '/') {
    state = platform::GetEnvironmentVariable("HOME") + "/.local/state";
  }
  const std::string folder = state + "/qarnauto";
  return platform::CreateDirectories(folder) && platform::IsWritableDirectory(folder) ? folder : own;
}

}  // namespace

int QarnAutoApp::InitInstance() {
  platform::InstallCrashDumpHandler("ValdrisStartup.dmp");
  platform::SetCurrentDirectory(WorkingFolder());
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
