// The engine's exported entry points.
#include "engine/nn_down.h"

#include <map>
#include <memory>
#include <mutex>

#include "engine/down_engine.h"
#include "engine/down_n1.h"
#include "engine/down_nn.h"
#include "engine/engine_log.h"
#include "platform/message.h"

extern "C" int32_t NN_Down_n1(const char* szUrl, const char* szPath, uintptr_t hWnd, int32_t nId,
                              uint32_t uPeriod) {
  return RunDownloadCall<CDownN1>(szUrl, szPath, hWnd, nId, uPeriod, StopRule::kNone);
}

int32_t DownUrlList(const char* szUrl, const char* szPath, uintptr_t hWnd, int32_t nId,
                    uint32_t uPeriod, const ListNaming& naming) {
  if (!g_downEngine.bReady) {
    DebugLog("init fail");
    return 0;
  }
  DebugLog("NN_nn in --> id: %d", nId);
  int32_t nResult = RunDownloadCall<CDownNN>(szUrl, szPath, hWnd, nId, uPeriod,
                                             StopRule::kStoppedMeansMinus199, naming);
  DebugLog("NN_nn out <-- id: %d, exit: %d", nId, nResult);
  return nResult;
}

extern "C" int32_t NN_Down_nn(const char* szUrl, const char* szPath, uintptr_t hWnd, int32_t nId,
                              uint32_t uPeriod) {
  // A program calling the library has no update location of its own.
  return DownUrlList(szUrl, szPath, hWnd, nId, uPeriod, ListNaming{});
}

namespace {

// A notification target: a window that runs on the sender's thread and
// forwards to the caller's procedure until it is destroyed.
struct CNotifyTarget {
  std::recursive_mutex lock;  // held while delivering; destroying waits for it
  NN_NotifyProc pfnNotify;    // guarded by lock; null once destroyed
  void* pUser;
};

std::mutex g_targetsLock;
std::map<uintptr_t, std::shared_ptr<CNotifyTarget>> g_targets;  // guarded by g_targetsLock

}  // namespace

extern "C" uintptr_t NN_CreateNotifyTarget(NN_NotifyProc pfnNotify, void* pUser) {
  if (pfnNotify == nullptr) return 0;
  auto pTarget = std::make_shared<CNotifyTarget>();
  pTarget->pfnNotify = pfnNotify;
  pTarget->pUser = pUser;
  std::lock_guard<std::mutex> guard(g_targetsLock);
  const uintptr_t hTarget = platform::CreateCallbackWindow(
      [pTarget](platform::HWND, uint32_t uMsg, platform::WPARAM wParam, platform::LPARAM lParam) {
        std::lock_guard<std::recursive_mutex> delivering(pTarget->lock);
        if (pTarget->pfnNotify != nullptr) pTarget->pfnNotify(pTarget->pUser, uMsg, wParam, lParam);
        return platform::LRESULT{1};
      });
  g_targets[hTarget] = pTarget;
  return hTarget;
}

extern "C" void NN_DestroyNotifyTarget(uintptr_t hTarget) {
  std::shared_ptr<CNotifyTarget> pTarget;
  {
    std::lock_guard<std::mutex> guard(g_targetsLock);
    auto it = g_targets.find(hTarget);
    if (it == g_targets.end()) return;
    pTarget = std::move(it->second);
    g_targets.erase(it);
  }
  platform::DestroyMessageWindow(hTarget);
  // A delivery that found the window before it went may still run; taking
  // its lock waits for it, and the cleared pointer ends any that follow.
  std::lock_guard<std::recursive_mutex> delivering(pTarget->lock);
  pTarget->pfnNotify = nullptr;
}
