#include "update/update_driver.h"

#include <algorithm>
#include <atomic>

#include "engine/engine_log.h"
#include "engine/url.h"
#include "platform/text.h"
#include "update/delta_update.h"
#include "update/install_location.h"
#include "update/launch_settings.h"
#include "update/package_install.h"
#include "update/package_signature.h"
#include "update/process_control.h"

namespace {

// After a package fetched by blocks proved damaged, the next attempt takes
// the whole package, as after any damaged package.
bool g_bWholeNext = false;

// The package's URL when it may be fetched by blocks: one package (and its
// signature in a signed build), over HTTP or HTTPS. "" otherwise.
std::string BlockUpdateUrl(const UpdateSettings& settings) {
  const size_t nFiles = PackageKey().empty() ? 1 : 2;
  if (g_bWholeNext || settings.DownloadList.size() != nFiles ||
      settings.DownloadList.count(u"qarn.7z") == 0) {
    return "";
  }
  std::string url = platform::Utf16ToUtf8(settings.UpdateUrl) + "/qarn.7z";
  std::replace(url.begin(), url.end(), '\\', '/');
  return IsHttpProtocol(JudgeProtocol(url.c_str())) ? url : "";
}

}  // namespace

int32_t PrepareUpdate(IUpdateObserver& observer, UpdateSettings* pSettings) {
  pSettings->DownloadList.clear();
  PrepareDownloadList(pSettings, pSettings->InstallDir.c_str());
  observer.OnPercentText(u"100%");
  return 1;
}

UpdateOutcome RunUpdate(IUpdateObserver& observer, UpdateSettings* pSettings,
                        platform::HWND hProgress) {
  const UpdateSettings& settings = *pSettings;
  const AskFn ask = [&observer](const std::u16string& text, const std::u16string& caption,
                                platform::PromptButtons buttons) {
    return observer.Ask(text, caption, buttons);
  };
  if (CloseRunningClients(u"qarn.exe", ask) == -1) return UpdateOutcome::kRefused;
  observer.OnStatus(TextKey::StartDownload);
  // The second bar takes its style when the installation begins: with a
  // fetch by blocks that is when the first block is unpacked, while the
  // others are still coming.
  std::atomic<bool> bInstalling{false};
  const InstallProgressFn progress = [&observer, &bInstalling](int nPercent) {
    if (!bInstalling.exchange(true)) observer.OnSecondBarStyle(2);
    observer.OnInstallProgress(nPercent);
  };
  DeltaOutcome byBlocks = DeltaOutcome::kWholePackage;
  const std::string blockUrl = BlockUpdateUrl(settings);
  g_bWholeNext = false;
  if (!blockUrl.empty()) {
    byBlocks = RunDeltaUpdate(settings.InstallDir, blockUrl, hProgress, progress, ask);
  }
  switch (byBlocks) {
    case DeltaOutcome::kInstalled:
      break;
    case DeltaOutcome::kDamaged:
      g_bWholeNext = true;
      return UpdateOutcome::kInstallFailed;
    case DeltaOutcome::kFetchFailed:
      AppendRunLog(u"download file " + platform::Utf8ToUtf16(blockUrl) + u" failed");
      return UpdateOutcome::kDownloadFailed;
    case DeltaOutcome::kInstallFailed:
      return UpdateOutcome::kInstallFailed;
    case DeltaOutcome::kWholePackage: {
      CGameUpdate update(settings);
      std::u16string listText;
      if (update.DownloadPackages(settings.InstallDir, &listText, hProgress, 0) != 1) {
        AppendRunLog(u"download file " + listText + u" failed");
        return UpdateOutcome::kDownloadFailed;
      }
      if (!bInstalling.exchange(true)) observer.OnSecondBarStyle(2);
      if (!InstallPackages(progress, settings, ask)) return UpdateOutcome::kInstallFailed;
      break;
    }
  }
  observer.OnStatus(TextKey::StartClient);
  pSettings->DownloadList.clear();
  CreateDesktopShortcut(settings);
  WriteStartupValue(settings.EditionSuffix, settings.InstallDir);
  LaunchClient(settings.InstallDir, ask);
  return UpdateOutcome::kDone;
}
