#include "platform/wakeup.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/posix/eintr_posix.h"
#include "platform/sync.h"

namespace platform {

CWakeup::CWakeup() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  // Without it no loop could ever sleep; a process out of descriptors this
  // early cannot run the updater anyway.
  if (fd_ < 0) std::abort();
}

CWakeup::~CWakeup() { close(fd_); }

void CWakeup::Signal() {
  const uint64_t one = 1;
  // A full counter is still readable, which is all a wake-up needs.
  (void)RetryOnInterrupt([&] { return write(fd_, &one, sizeof one); });
}

void CWakeup::Clear() {
  uint64_t count = 0;
  (void)RetryOnInterrupt([&] { return read(fd_, &count, sizeof count); });
}

bool WaitForReadable(const int* pFds, int nFds, uint32_t dwMilliseconds) {
  std::vector<pollfd> fds(static_cast<size_t>(nFds));
  for (int i = 0; i < nFds; ++i) fds[i] = pollfd{pFds[i], POLLIN, 0};
  const int nTimeout = dwMilliseconds == kInfinite ? -1 : static_cast<int>(dwMilliseconds & 0x7FFFFFFF);
  // An interrupted wait counts as a wake-up: the caller looks again.
  const int r = poll(fds.data(), fds.size(), nTimeout);
  return r != 0;
}

}  // namespace platform
