// Events with the kernel-event semantics the engine relies on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// A manual-reset event stays signalled until Reset; an auto-reset event lets
// exactly one waiter through per Set. Every member may be called from any
// thread.
class CEvent {
 public:
  explicit CEvent(bool bManualReset, bool bInitialState = false)
      : bManualReset_(bManualReset), bSignalled_(bInitialState) {}
  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;

  void Set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bSignalled_ = true;
    }
    if (bManualReset_) {
      cv_.notify_all();
    } else {
      cv_.notify_one();
    }
  }

  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    bSignalled_ = false;
  }

  // Returns true when the event was signalled, false after the time-out.
  bool Wait(uint32_t dwMilliseconds = kInfinite) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return bSignalled_; };
    if (dwMilliseconds == kInfinite) {
      cv_.wait(lock, ready);
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), ready)) {
      return false;
    }
    if (!bManualReset_) bSignalled_ = false;
    return true;
  }

 private:
  const bool bManualReset_;
  bool bSignalled_;  // guarded by mutex_
  std::mutex mutex_;
  std::condition_variable cv_;
};

}  // namespace platform
