#include "engine/notify_timer.h"

#include "platform/clock.h"

void OnNotifyTimer(CDownBase& task) {
  DownProgress& notify = task.notify;
  {
    std::lock_guard<std::mutex> lock(task.pLive->lock);
    notify.bActive = task.pLive->bActive;
    notify.nPercent = task.pLive->nPercent;
    notify.llDownloaded = task.pLive->llDownloaded;
    notify.llTotal = task.pLive->llTotal;
    notify.nId = task.pLive->nId;
  }
  const uint32_t dwNow = platform::GetTickCount();
  const uint32_t dwElapsed = dwNow - task.dwLastTick;
  bool bMeasured = false;
  if (dwElapsed > 1000) {
    notify.dSpeed = static_cast<double>(notify.llDownloaded - task.llLastBytes) / dwElapsed;
    if (notify.dSpeed > -0.000001 && notify.dSpeed < 0.000001) {
      notify.wHours = notify.wMinutes = notify.wSeconds = 0;
    } else {
      const double dLeft =
          static_cast<double>(notify.llTotal - notify.llDownloaded) / notify.dSpeed / 1000;
      // Truncated toward zero, then its low 32 bits as unsigned; the range
      // check keeps the conversion defined for absurd estimates.
      const int64_t llLeft =
          dLeft > -9.0e18 && dLeft < 9.0e18 ? static_cast<int64_t>(dLeft) : 0;
      const auto s = static_cast<uint32_t>(llLeft);
      notify.wHours = static_cast<int16_t>(s / 3600);
      notify.wMinutes = static_cast<int16_t>((s % 3600) / 60);
      notify.wSeconds = static_cast<int16_t>(s % 60);
    }
    task.llLastBytes = notify.llDownloaded;
    task.dwLastTick = dwNow;
    bMeasured = true;
  }
  if (notify.llDownloaded == task.llLastSent && !bMeasured) return;
  const double dPercent =
      static_cast<double>(notify.llDownloaded) / static_cast<double>(notify.llTotal) * 100;
  // A total of 0 or less gives no meaningful percentage; keep the cast defined.
  notify.nPercent = dPercent > -2.0e9 && dPercent < 2.0e9 ? static_cast<int32_t>(dPercent) : -1;
  task.llLastSent = notify.llDownloaded;
  platform::SendMessage(task.hWnd, WM_DOWN_NOTIFY, reinterpret_cast<platform::WPARAM>(&notify),
                        999);
}

bool StartNotifyTimer(CDownBase& task, uint32_t uPeriod) {
  return task.timer.Start(uPeriod, [&task] { OnNotifyTimer(task); });
}

void StopNotifyTimer(CDownBase& task) { task.timer.Kill(); }
