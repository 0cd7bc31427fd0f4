#include "platform/thread.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/crash_dump.h"
#include "platform/sync.h"

namespace platform {
namespace {

// Every slot announces its end here, so one wait can cover many slots.
std::mutex g_endLock;
std::condition_variable g_endCv;

}  // namespace

bool CThreadSlot::Start(std::function<int32_t()> proc) {
  if (bRunning_.load()) return false;
  Join();
  bRunning_.store(true);
  thread_ = std::thread([this, proc = std::move(proc)] {
    PrepareThreadForCrashDump();
    int32_t nCode = proc();
    {
      std::lock_guard<std::mutex> lock(g_endLock);
      nExitCode_.store(nCode);
      bRunning_.store(false);
    }
    g_endCv.notify_all();
  });
  return true;
}

void RunOnThreads(int nThreads, const std::function<void()>& work) {
  std::vector<std::unique_ptr<CThreadSlot>> helpers;
  for (int i = 1; i < nThreads; ++i) {
    helpers.push_back(std::make_unique<CThreadSlot>());
    helpers.back()->Start([&work] {
      work();
      return 0;
    });
  }
  work();
  for (auto& helper : helpers) helper->Join();
}

void StartDetachedThread(std::function<void()> proc) {
  std::thread([proc = std::move(proc)] {
    PrepareThreadForCrashDump();
    proc();
  }).detach();
}

void CThreadSlot::Join() {
  if (thread_.joinable()) thread_.join();
}

int WaitForAnySlot(CThreadSlot* const* pSlots, int nCount, uint32_t dwMilliseconds) {
  int nFound = -1;
  auto anyEnded = [&] {
    bool bAnyStarted = false;
    for (int i = 0; i < nCount; ++i) {
      if (pSlots[i] == nullptr || !pSlots[i]->IsStarted()) continue;
      bAnyStarted = true;
      if (!pSlots[i]->IsRunning()) {
        nFound = i;
        return true;
      }
    }
    return !bAnyStarted;
  };
  std::unique_lock<std::mutex> lock(g_endLock);
  if (dwMilliseconds == kInfinite) {
    g_endCv.wait(lock, anyEnded);
  } else {
    g_endCv.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), anyEnded);
  }
  return nFound;
}

}  // namespace platform
