#include "update/update_driver.h"


#include "engine/engine_log.h"
#include "platform/thread.h"
#include "update/install_location.h"
#include "update/launch_settings.h"
#include "update/package_install.h"
#include "update/process_control.h"
#include "ui/language_texts.h"

int32_t PrepareThreadProc(CUpdateWindow* pWindow) {
  DownloadList.clear();
  PrepareDownloadList(InstallDir);
  pWindow->SetPercentText(u"100%");
  platform::SendMessage(pWindow->Handle(), WM_PREPARE_DONE, 0, 0);
  return 1;
}

int32_t UpdateThreadProc(CUpdateWindow* pWindow) {
  if (CloseRunningClients(u"qarn.exe") == -1) pWindow->FinishAndExit();
  pWindow->SetStatus(GetText(TextKey::StartDownload), 355, 557, 540, 29);
  CGameUpdate update;
  std::u16string listText;
  if (update.DownloadPackages(InstallDir, &listText, pWindow->Handle(), 0) != 1) {
    AppendRunLog(u"download file " + listText + u" failed");
    platform::SendMessage(pWindow->Handle(), WM_UPDATE_FAILED, 0, 0);
    return 1;
  }
  pWindow->SetSecondBarStyle(2);
  if (!InstallPackages(pWindow->Handle(), InstallDir)) {
    platform::SendMessage(pWindow->Handle(), WM_UPDATE_FAILED, 0, 0);
    return -1;
  }
  pWindow->SetStatus(GetText(TextKey::StartClient), 355, 557, 895 - 355, 586 - 557);
  DownloadList.clear();
  CreateDesktopShortcut();
  WriteStartupValue(InstallDir);
  LaunchClient();
  pWindow->FinishAndExit();
  return 1;  // not reached
}

void StartWorkerThread(int32_t (*proc)(CUpdateWindow*), CUpdateWindow* pWindow) {
  platform::StartDetachedThread([proc, pWindow] { proc(pWindow); });
}
