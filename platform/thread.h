// Thread slots: a thread whose end can be told apart from "still running",
// and a wait for the first of several slots to end.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace platform {

// Owned and driven by one thread (the driver); the thread it starts runs the
// procedure. The destructor waits for a running thread.
class CThreadSlot {
 public:
  CThreadSlot() = default;
  CThreadSlot(const CThreadSlot&) = delete;
  CThreadSlot& operator=(const CThreadSlot&) = delete;
  ~CThreadSlot() { Join(); }

  // Starts the procedure on a new thread; an earlier thread of this slot must
  // have ended (it is joined here). False when one is still running.
  bool Start(std::function<int32_t()> proc);

  bool IsStarted() const { return thread_.joinable(); }
  // True from Start until the procedure has returned.
  bool IsRunning() const { return bRunning_.load(); }
  // The procedure's result, valid once it has returned.
  int32_t ExitCode() const { return nExitCode_.load(); }

  // Waits for the thread to end; nothing happens when none was started.
  void Join();

 private:
  std::thread thread_;
  std::atomic<bool> bRunning_{false};
  std::atomic<int32_t> nExitCode_{0};
};

// Starts the procedure on a thread that nobody waits for (it ends with the
// process at the latest). Like every thread the platform starts, it has a
// signal stack of its own for the crash filter.
void StartDetachedThread(std::function<void()> proc);

// Runs work on nThreads threads at once, the calling thread one of them,
// and returns once every one has returned.
void RunOnThreads(int nThreads, const std::function<void()>& work);

// Calls fn(pData) on the calling thread when it ends, after everything it
// ran. For per-thread state that must be cleaned up: the C++ runtime of the
// Windows build (mingw-w64) frees a thread's thread_local storage before it
// runs their destructors, so such state is a trivially destructible
// thread_local pointer to an object this call deletes. The calls run in the
// reverse order of their registration.
void AtThreadExit(void (*fn)(void*), void* pData);

// Waits until one of the started slots has ended, up to the time-out
// (kInfinite from sync.h waits without limit). Returns the index of the first
// ended started slot, or -1 on time-out or when none is started.
int WaitForAnySlot(CThreadSlot* const* pSlots, int nCount, uint32_t dwMilliseconds);

}  // namespace platform
