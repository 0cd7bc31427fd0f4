#include "update/update_driver.h"

#include "engine/engine_log.h"
#include "update/install_location.h"
#include "update/launch_settings.h"
#include "update/package_install.h"
#include "update/process_control.h"

int32_t PrepareUpdate(IUpdateObserver& observer) {
  DownloadList.clear();
  PrepareDownloadList(InstallDir);
  observer.OnPercentText(u"100%");
  return 1;
}

UpdateOutcome RunUpdate(IUpdateObserver& observer, platform::HWND hProgress) {
  const AskFn ask = [&observer](const std::u16string& text, const std::u16string& caption,
                                platform::PromptButtons buttons) {
    return observer.Ask(text, caption, buttons);
  };
  if (CloseRunningClients(u"qarn.exe", ask) == -1) return UpdateOutcome::kRefused;
  observer.OnStatus(TextKey::StartDownload);
  CGameUpdate update;
  std::u16string listText;
  if (update.DownloadPackages(InstallDir, &listText, hProgress, 0) != 1) {
    AppendRunLog(u"download file " + listText + u" failed");
    return UpdateOutcome::kDownloadFailed;
  }
  observer.OnSecondBarStyle(2);
  if (!InstallPackages([&observer](int nPercent) { observer.OnInstallProgress(nPercent); },
                       InstallDir, ask)) {
    return UpdateOutcome::kInstallFailed;
  }
  observer.OnStatus(TextKey::StartClient);
  DownloadList.clear();
  CreateDesktopShortcut();
  WriteStartupValue(InstallDir);
  LaunchClient(ask);
  return UpdateOutcome::kDone;
}
