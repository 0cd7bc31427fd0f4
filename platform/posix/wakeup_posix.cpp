#include "platform/wakeup.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/posix/eintr_posix.h"
#include "platform/sync.h"

namespace platform {

CWakeup::CWakeup() : handle_{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)} {
  // Without it no loop could ever sleep; a process out of descriptors this
  // early cannot run the updater anyway.
  if (handle_.h < 0) std::abort();
}

CWakeup::~CWakeup() { close(static_cast<int>(handle_.h)); }

void CWakeup::Signal() {
  const uint64_t one = 1;
  // A full counter is still readable, which is all a wake-up needs.
  (void)RetryOnInterrupt([&] { return write(static_cast<int>(handle_.h), &one, sizeof one); });
}

void CWakeup::Clear() {
  uint64_t count = 0;
  (void)RetryOnInterrupt([&] { return read(static_cast<int>(handle_.h), &count, sizeof count); });
}

bool WaitForAny(const WaitHandle* pHandles, int nHandles, uint32_t dwMilliseconds) {
  std::vector<pollfd> fds(static_cast<size_t>(nHandles));
  for (int i = 0; i < nHandles; ++i) fds[i] = pollfd{static_cast<int>(pHandles[i].h), POLLIN, 0};
  const int nTimeout = dwMilliseconds == kInfinite ? -1 : static_cast<int>(dwMilliseconds & 0x7FFFFFFF);
  // An interrupted wait counts as a wake-up: the caller looks again.
  const int r = poll(fds.data(), fds.size(), nTimeout);
  return r != 0;
}

}  // namespace platform
