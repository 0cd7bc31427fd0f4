// A periodic timer: calls a procedure on a thread of its own at a fixed period.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

class CPeriodicTimer {
 public:
  CPeriodicTimer() = default;
  CPeriodicTimer(const CPeriodicTimer&) = delete;
  CPeriodicTimer& operator=(const CPeriodicTimer&) = delete;
  ~CPeriodicTimer() { Kill(); }

  // Calls proc every dwPeriod milliseconds (the first call one period after
  // the start) until Kill. False when already running or the period is 0.
  bool Start(uint32_t dwPeriod, std::function<void()> proc);

  // Stops the timer; waits until a call in progress has returned. Must not
  // be called from the procedure itself.
  void Kill();

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  bool bStop_ = false;  // guarded by lock_
  std::thread thread_;
};

}  // namespace platform
