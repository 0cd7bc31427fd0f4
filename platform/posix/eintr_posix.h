// For the POSIX implementation files only: one place that runs a system call
// again when a signal interrupted it.
#pragma once

#include <cerrno>

namespace platform {

// Calls `call` until it does not fail with EINTR; its last result. The call
// reports failure as -1 with errno set, as system calls do.
template <class F>
auto RetryOnInterrupt(F call) -> decltype(call()) {
  decltype(call()) r;
  do {
    r = call();
  } while (r == -1 && errno == EINTR);
  return r;
}

}  // namespace platform
