#include "platform/win32/win32_prelude.h"

#include <cstdlib>
#include <vector>

#include "platform/sync.h"
#include "platform/wakeup.h"
#include "platform/win32/win32_util.h"

namespace platform {

CWakeup::CWakeup() : handle_{FromHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr))} {
  // Without it no loop could ever sleep.
  if (handle_.h < 0) std::abort();
}

CWakeup::~CWakeup() { ::CloseHandle(AsHandle(handle_.h)); }

void CWakeup::Signal() { ::SetEvent(AsHandle(handle_.h)); }

void CWakeup::Clear() { ::ResetEvent(AsHandle(handle_.h)); }

bool WaitForAny(const WaitHandle* pHandles, int nHandles, uint32_t dwMilliseconds) {
  std::vector<HANDLE> handles;
  for (int i = 0; i < nHandles && i < MAXIMUM_WAIT_OBJECTS - 1; ++i)
    handles.push_back(AsHandle(pHandles[i].h));
  // The thread's window messages wake the wait too, so a loop that owns
  // system windows handles their messages in the same sleep.
  const DWORD r = ::MsgWaitForMultipleObjects(
      static_cast<DWORD>(handles.size()), handles.data(), FALSE,
      dwMilliseconds == kInfinite ? INFINITE : dwMilliseconds, QS_ALLINPUT);
  return r != WAIT_TIMEOUT;
}

}  // namespace platform
