#include "platform/message.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "platform/foreign_window.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "platform/wakeup.h"

namespace platform {
namespace {

struct CQueue;

struct SentItem {
  HWND hWnd;
  uint32_t uMsg;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT lResult = 0;
  bool bDone = false;  // guarded by pSender->mutex
  std::shared_ptr<CQueue> pSender;
};

struct PostedItem {
  HWND hWnd;
  uint32_t uMsg;
  WPARAM wParam;
  LPARAM lParam;
};

using Clock = std::chrono::steady_clock;

struct Timer {
  HWND hWnd;
  uintptr_t nId;
  uint32_t dwPeriod;
  Clock::time_point due;
};

struct CQueue {
  std::mutex mutex;
  std::condition_variable cv;  // a sender waiting for its reply sleeps here
  CWakeup wakeup;              // the owner's loop sleeps on this
  // Guarded by mutex:
  std::deque<std::shared_ptr<SentItem>> sent;
  std::deque<PostedItem> posted;
  std::vector<Timer> timers;
  std::set<HWND> paints;
  bool bClosed = false;
  // Owner thread only:
  std::vector<std::shared_ptr<ILoopSource>> sources;

  // Called after a change under the lock, once the lock is released.
  void Notify() {
    cv.notify_all();
    wakeup.Signal();
  }
};

struct WindowEntry {
  std::shared_ptr<CQueue> pOwner;  // null: a callback window, run by the sender
  std::shared_ptr<WindowProc> pProc;
};

std::mutex g_windowsLock;
std::unordered_map<HWND, WindowEntry> g_windows;  // guarded by g_windowsLock
HWND g_nextWindow = 1;                            // guarded by g_windowsLock

void Complete(SentItem& item, LRESULT lResult) {
  std::lock_guard<std::mutex> lock(item.pSender->mutex);
  item.lResult = lResult;
  item.bDone = true;
  item.pSender->cv.notify_all();
}

// One per thread, made on first use: when the thread ends, its windows go
// and every sender still waiting on them is released with 0.
struct CQueueHolder {
  std::shared_ptr<CQueue> pQueue = std::make_shared<CQueue>();
  ~CQueueHolder() {
    {
      std::lock_guard<std::mutex> lock(g_windowsLock);
      for (auto it = g_windows.begin(); it != g_windows.end();) {
        it = it->second.pOwner == pQueue ? g_windows.erase(it) : std::next(it);
      }
    }
    std::deque<std::shared_ptr<SentItem>> orphans;
    {
      std::lock_guard<std::mutex> lock(pQueue->mutex);
      pQueue->bClosed = true;
      orphans.swap(pQueue->sent);
      pQueue->posted.clear();
      pQueue->timers.clear();
      pQueue->paints.clear();
    }
    for (auto& item : orphans) Complete(*item, 0);
  }
};

const std::shared_ptr<CQueue>& CurrentQueue() {
  thread_local CQueueHolder* t_pHolder = nullptr;
  if (t_pHolder == nullptr) {
    t_pHolder = new CQueueHolder;
    AtThreadExit([](void* pHolder) { delete static_cast<CQueueHolder*>(pHolder); }, t_pHolder);
  }
  return t_pHolder->pQueue;
}

std::shared_ptr<WindowProc> FindProc(HWND hWnd, std::shared_ptr<CQueue>* pOwner) {
  std::lock_guard<std::mutex> lock(g_windowsLock);
  auto it = g_windows.find(hWnd);
  if (it == g_windows.end()) return nullptr;
  if (pOwner) *pOwner = it->second.pOwner;
  return it->second.pProc;
}

LRESULT CallProc(HWND hWnd, uint32_t uMsg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<WindowProc> pProc = FindProc(hWnd, nullptr);
  return pProc ? (*pProc)(hWnd, uMsg, wParam, lParam) : 0;
}

void HandleSent(const std::shared_ptr<SentItem>& item) {
  Complete(*item, CallProc(item->hWnd, item->uMsg, item->wParam, item->lParam));
}

// The owner queue of a thread-owned window, or null.
std::shared_ptr<CQueue> OwnerOf(HWND hWnd) {
  std::shared_ptr<CQueue> pOwner;
  return FindProc(hWnd, &pOwner) ? pOwner : nullptr;
}

// Runs the sources' pumps; true when one handled something.
bool PumpSources(CQueue& q) {
  bool bAny = false;
  // A pump may add or remove sources: walk a copy.
  const std::vector<std::shared_ptr<ILoopSource>> sources = q.sources;
  for (const auto& pSource : sources) bAny = pSource->Pump() || bAny;
  return bAny;
}

// Handles one waiting message, or waits for one up to the time-out. Returns
// -1 on a quit (code in *pCode), 1 when something was handled, 0 on time-out.
int HandleOne(CQueue& q, uint32_t dwMilliseconds, int* pCode) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(dwMilliseconds);
  for (;;) {
    // Cleared before looking, so a message queued after the look wakes the
    // poll below.
    q.wakeup.Clear();
    // Events the sources route land in the queues; a busy display must not
    // keep this queue's own messages waiting, so they are looked at anyway.
    const bool bPumped = PumpSources(q);
    std::unique_lock<std::mutex> lock(q.mutex);
    if (!q.sent.empty()) {
      auto item = std::move(q.sent.front());
      q.sent.pop_front();
      lock.unlock();
      HandleSent(item);
      return 1;
    }
    if (!q.posted.empty()) {
      PostedItem msg = q.posted.front();
      q.posted.pop_front();
      lock.unlock();
      if (msg.uMsg == WM_QUIT) {
        *pCode = static_cast<int>(msg.wParam);
        return -1;
      }
      CallProc(msg.hWnd, msg.uMsg, msg.wParam, msg.lParam);
      return 1;
    }
    const Clock::time_point now = Clock::now();
    auto next = std::min_element(q.timers.begin(), q.timers.end(),
                                 [](const Timer& a, const Timer& b) { return a.due < b.due; });
    if (next != q.timers.end() && next->due <= now) {
      const HWND hWnd = next->hWnd;
      const uintptr_t nId = next->nId;
      next->due = now + std::chrono::milliseconds(next->dwPeriod);
      lock.unlock();
      CallProc(hWnd, WM_TIMER, nId, 0);
      return 1;
    }
    if (!q.paints.empty()) {
      const HWND hWnd = *q.paints.begin();
      q.paints.erase(q.paints.begin());
      lock.unlock();
      CallProc(hWnd, WM_PAINT, 0, 0);
      return 1;
    }
    if (bPumped) return 1;
    uint32_t dwWait = kInfinite;
    if (dwMilliseconds != kInfinite) {
      if (now >= deadline) return 0;
      dwWait = static_cast<uint32_t>(
          std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
    }
    if (next != q.timers.end()) {
      const auto untilTimer = static_cast<uint32_t>(
          std::chrono::ceil<std::chrono::milliseconds>(next->due - now).count());
      dwWait = std::min(dwWait, untilTimer);
    }
    lock.unlock();
    std::vector<WaitHandle> handles{q.wakeup.Handle()};
    for (const auto& pSource : q.sources) handles.push_back(pSource->WaitSource());
    WaitForAny(handles.data(), static_cast<int>(handles.size()), dwWait);
  }
}

}  // namespace

HWND CreateMessageWindow(WindowProc proc) {
  auto pProc = std::make_shared<WindowProc>(std::move(proc));
  std::lock_guard<std::mutex> lock(g_windowsLock);
  HWND hWnd = g_nextWindow++;
  g_windows[hWnd] = WindowEntry{CurrentQueue(), std::move(pProc)};
  return hWnd;
}

HWND CreateCallbackWindow(WindowProc proc) {
  auto pProc = std::make_shared<WindowProc>(std::move(proc));
  std::lock_guard<std::mutex> lock(g_windowsLock);
  HWND hWnd = g_nextWindow++;
  g_windows[hWnd] = WindowEntry{nullptr, std::move(pProc)};
  return hWnd;
}

void DestroyMessageWindow(HWND hWnd) {
  std::shared_ptr<CQueue> pOwner;
  {
    std::lock_guard<std::mutex> lock(g_windowsLock);
    auto it = g_windows.find(hWnd);
    if (it == g_windows.end()) return;
    pOwner = it->second.pOwner;
    g_windows.erase(it);
  }
  if (!pOwner) return;
  std::lock_guard<std::mutex> lock(pOwner->mutex);
  std::erase_if(pOwner->timers, [hWnd](const Timer& t) { return t.hWnd == hWnd; });
  pOwner->paints.erase(hWnd);
}

bool IsWindow(HWND hWnd) { return FindProc(hWnd, nullptr) != nullptr; }

LRESULT SendMessage(HWND hWnd, uint32_t uMsg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<CQueue> pOwner;
  std::shared_ptr<WindowProc> pProc = FindProc(hWnd, &pOwner);
  if (!pProc) {
    LRESULT lResult = 0;
    return SendToForeignWindow(hWnd, uMsg, wParam, lParam, &lResult) ? lResult : 0;
  }
  if (!pOwner) return (*pProc)(hWnd, uMsg, wParam, lParam);
  const std::shared_ptr<CQueue>& pMine = CurrentQueue();
  if (pOwner == pMine) return (*pProc)(hWnd, uMsg, wParam, lParam);

  auto item = std::make_shared<SentItem>(SentItem{hWnd, uMsg, wParam, lParam, 0, false, pMine});
  {
    std::lock_guard<std::mutex> lock(pOwner->mutex);
    if (pOwner->bClosed) return 0;
    pOwner->sent.push_back(item);
  }
  pOwner->Notify();

  std::unique_lock<std::mutex> lock(pMine->mutex);
  while (!item->bDone) {
    if (!pMine->sent.empty()) {
      auto incoming = std::move(pMine->sent.front());
      pMine->sent.pop_front();
      lock.unlock();
      HandleSent(incoming);
      lock.lock();
      continue;
    }
    pMine->cv.wait(lock);
  }
  return item->lResult;
}

bool PostMessage(HWND hWnd, uint32_t uMsg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<CQueue> pOwner;
  std::shared_ptr<WindowProc> pProc = FindProc(hWnd, &pOwner);
  if (!pProc) return false;
  if (!pOwner) {
    (*pProc)(hWnd, uMsg, wParam, lParam);
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(pOwner->mutex);
    if (pOwner->bClosed) return false;
    pOwner->posted.push_back(PostedItem{hWnd, uMsg, wParam, lParam});
  }
  pOwner->Notify();
  return true;
}

void PostQuitMessage(int nExitCode) {
  CQueue& q = *CurrentQueue();
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.posted.push_back(PostedItem{0, WM_QUIT, static_cast<WPARAM>(nExitCode), 0});
  }
  q.Notify();
}

int RunMessageLoop() {
  CQueue& q = *CurrentQueue();
  int nCode = 0;
  while (HandleOne(q, kInfinite, &nCode) >= 0) {
  }
  return nCode;
}

bool RunModalLoop(const std::function<bool()>& bDone) {
  CQueue& q = *CurrentQueue();
  int nCode = 0;
  while (!bDone()) {
    if (HandleOne(q, kInfinite, &nCode) < 0) {
      PostQuitMessage(nCode);
      return false;
    }
  }
  return true;
}

bool SetTimer(HWND hWnd, uintptr_t nId, uint32_t dwMilliseconds) {
  std::shared_ptr<CQueue> pOwner = OwnerOf(hWnd);
  if (!pOwner) return false;
  dwMilliseconds = std::max<uint32_t>(dwMilliseconds, 1);
  const Clock::time_point due = Clock::now() + std::chrono::milliseconds(dwMilliseconds);
  {
    std::lock_guard<std::mutex> lock(pOwner->mutex);
    if (pOwner->bClosed) return false;
    auto it = std::find_if(pOwner->timers.begin(), pOwner->timers.end(),
                           [&](const Timer& t) { return t.hWnd == hWnd && t.nId == nId; });
    if (it != pOwner->timers.end()) {
      *it = Timer{hWnd, nId, dwMilliseconds, due};
    } else {
      pOwner->timers.push_back(Timer{hWnd, nId, dwMilliseconds, due});
    }
  }
  pOwner->Notify();
  return true;
}

bool KillTimer(HWND hWnd, uintptr_t nId) {
  std::shared_ptr<CQueue> pOwner = OwnerOf(hWnd);
  if (!pOwner) return false;
  std::lock_guard<std::mutex> lock(pOwner->mutex);
  return std::erase_if(pOwner->timers,
                       [&](const Timer& t) { return t.hWnd == hWnd && t.nId == nId; }) > 0;
}

void InvalidateWindow(HWND hWnd) {
  std::shared_ptr<CQueue> pOwner = OwnerOf(hWnd);
  if (!pOwner) return;
  {
    std::lock_guard<std::mutex> lock(pOwner->mutex);
    if (pOwner->bClosed || !pOwner->paints.insert(hWnd).second) return;
  }
  pOwner->Notify();
}

void AddLoopSource(const std::shared_ptr<ILoopSource>& pSource) {
  CQueue& q = *CurrentQueue();
  if (std::find(q.sources.begin(), q.sources.end(), pSource) == q.sources.end()) {
    q.sources.push_back(pSource);
  }
}

void RemoveLoopSource(const ILoopSource* pSource) {
  CQueue& q = *CurrentQueue();
  std::erase_if(q.sources, [pSource](const auto& p) { return p.get() == pSource; });
}

bool PumpMessages(uint32_t dwMilliseconds) {
  CQueue& q = *CurrentQueue();
  int nCode = 0;
  int r = HandleOne(q, dwMilliseconds, &nCode);
  while (r > 0) r = HandleOne(q, 0, &nCode);
  return r >= 0;
}

}  // namespace platform
