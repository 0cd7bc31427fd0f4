// For the message layer: a descriptor that a thread's loop sleeps on in
// poll, together with the descriptors of its other sources (the display).
#pragma once

#include <cstdint>

namespace platform {

class CWakeup {
 public:
  CWakeup();
  ~CWakeup();
  CWakeup(const CWakeup&) = delete;
  CWakeup& operator=(const CWakeup&) = delete;

  // Makes the descriptor readable until the next Clear(). Any thread.
  void Signal();
  // Makes it unreadable again. Owner thread.
  void Clear();
  int Descriptor() const { return fd_; }

 private:
  int fd_;
};

// Sleeps until one of the descriptors is readable (or has hung up) or the
// time-out passes (kInfinite: no time-out). False on time-out.
bool WaitForReadable(const int* pFds, int nFds, uint32_t dwMilliseconds);

}  // namespace platform
