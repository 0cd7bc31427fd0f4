#include "platform/win32/win32_prelude.h"

#include <utility>
#include <vector>

#include "platform/thread.h"

namespace platform {
namespace {

using Calls = std::vector<std::pair<void (*)(void*), void*>>;

// Fiber-local storage's callback runs as the thread ends, before the
// runtime frees the thread's storage.
void WINAPI RunCalls(void* pValue) {
  auto* pCalls = static_cast<Calls*>(pValue);
  if (pCalls == nullptr) return;
  // Last registered, first run, as destructors: state made later may use
  // state made earlier while it goes.
  for (auto it = pCalls->rbegin(); it != pCalls->rend(); ++it) it->first(it->second);
  delete pCalls;
}

}  // namespace

void AtThreadExit(void (*fn)(void*), void* pData) {
  static const DWORD index = ::FlsAlloc(RunCalls);
  if (index == FLS_OUT_OF_INDEXES) return;
  auto* pCalls = static_cast<Calls*>(::FlsGetValue(index));
  if (pCalls == nullptr) {
    pCalls = new Calls;
    ::FlsSetValue(index, pCalls);
  }
  pCalls->emplace_back(fn, pData);
}

}  // namespace platform
