#include <pthread.h>

#include <utility>
#include <vector>

#include "platform/thread.h"

namespace platform {
namespace {

using Calls = std::vector<std::pair<void (*)(void*), void*>>;

pthread_key_t g_key;

void RunCalls(void* pValue) {
  auto* pCalls = static_cast<Calls*>(pValue);
  // A call may register another: the key's value is gone by now, so it
  // starts a new list, which the system runs in a later round.
  // Last registered, first run, as destructors: state made later may use
  // state made earlier while it goes.
  for (auto it = pCalls->rbegin(); it != pCalls->rend(); ++it) it->first(it->second);
  delete pCalls;
}

}  // namespace

void AtThreadExit(void (*fn)(void*), void* pData) {
  static const bool bKeyMade = ::pthread_key_create(&g_key, RunCalls) == 0;
  if (!bKeyMade) return;
  auto* pCalls = static_cast<Calls*>(::pthread_getspecific(g_key));
  if (pCalls == nullptr) {
    pCalls = new Calls;
    ::pthread_setspecific(g_key, pCalls);
  }
  pCalls->emplace_back(fn, pData);
}

}  // namespace platform
