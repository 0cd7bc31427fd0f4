#include "platform/periodic_timer.h"

#include <chrono>

#include "platform/crash_dump.h"

namespace platform {

bool CPeriodicTimer::Start(uint32_t dwPeriod, std::function<void()> proc) {
  if (thread_.joinable() || dwPeriod == 0) return false;
  bStop_ = false;
  thread_ = std::thread([this, dwPeriod, proc = std::move(proc)] {
    PrepareThreadForCrashDump();
    const auto period = std::chrono::milliseconds(dwPeriod);
    auto next = std::chrono::steady_clock::now() + period;
    std::unique_lock<std::mutex> lock(lock_);
    while (!cv_.wait_until(lock, next, [this] { return bStop_; })) {
      lock.unlock();
      proc();
      lock.lock();
      // Late ticks are not made up for: the next one comes a period later.
      next = std::max(next + period, std::chrono::steady_clock::now());
    }
  });
  return true;
}

void CPeriodicTimer::Kill() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    bStop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

}  // namespace platform
