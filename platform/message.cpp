#include "platform/message.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/sync.h"

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

struct CQueue {
  std::mutex mutex;
  std::condition_variable cv;
  // Guarded by mutex:
  std::deque<std::shared_ptr<SentItem>> sent;
  std::deque<PostedItem> posted;
  bool bClosed = false;
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

// Lives in a thread_local: when the thread ends, its windows go and every
// sender still waiting on them is released with 0.
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
    }
    for (auto& item : orphans) Complete(*item, 0);
  }
};

const std::shared_ptr<CQueue>& CurrentQueue() {
  thread_local CQueueHolder holder;
  return holder.pQueue;
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

// Waits until a message is available (or the time-out passes) and handles
// one. Returns -1 on a quit (code in *pCode), 1 when a message was handled,
// 0 on time-out.
int HandleOne(CQueue& q, uint32_t dwMilliseconds, int* pCode) {
  std::unique_lock<std::mutex> lock(q.mutex);
  auto ready = [&q] { return !q.sent.empty() || !q.posted.empty(); };
  if (dwMilliseconds == kInfinite) {
    q.cv.wait(lock, ready);
  } else if (!q.cv.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), ready)) {
    return 0;
  }
  if (!q.sent.empty()) {
    auto item = std::move(q.sent.front());
    q.sent.pop_front();
    lock.unlock();
    HandleSent(item);
    return 1;
  }
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
  std::lock_guard<std::mutex> lock(g_windowsLock);
  g_windows.erase(hWnd);
}

bool IsWindow(HWND hWnd) { return FindProc(hWnd, nullptr) != nullptr; }

LRESULT SendMessage(HWND hWnd, uint32_t uMsg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<CQueue> pOwner;
  std::shared_ptr<WindowProc> pProc = FindProc(hWnd, &pOwner);
  if (!pProc) return 0;
  if (!pOwner) return (*pProc)(hWnd, uMsg, wParam, lParam);
  const std::shared_ptr<CQueue>& pMine = CurrentQueue();
  if (pOwner == pMine) return (*pProc)(hWnd, uMsg, wParam, lParam);

  auto item = std::make_shared<SentItem>(SentItem{hWnd, uMsg, wParam, lParam, 0, false, pMine});
  {
    std::lock_guard<std::mutex> lock(pOwner->mutex);
    if (pOwner->bClosed) return 0;
    pOwner->sent.push_back(item);
  }
  pOwner->cv.notify_all();

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
  pOwner->cv.notify_all();
  return true;
}

void PostQuitMessage(int nExitCode) {
  CQueue& q = *CurrentQueue();
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.posted.push_back(PostedItem{0, WM_QUIT, static_cast<WPARAM>(nExitCode), 0});
  }
  q.cv.notify_all();
}

int RunMessageLoop() {
  CQueue& q = *CurrentQueue();
  int nCode = 0;
  while (HandleOne(q, kInfinite, &nCode) >= 0) {
  }
  return nCode;
}

bool PumpMessages(uint32_t dwMilliseconds) {
  CQueue& q = *CurrentQueue();
  int nCode = 0;
  int r = HandleOne(q, dwMilliseconds, &nCode);
  while (r > 0) r = HandleOne(q, 0, &nCode);
  return r >= 0;
}

}  // namespace platform
