// For the message layer: what a thread's loop sleeps on, together with its
// other sources (the display): an event descriptor here, an event object on
// Windows.
#pragma once

#include <cstdint>

#include "platform/message.h"

namespace platform {

class CWakeup {
 public:
  CWakeup();
  ~CWakeup();
  CWakeup(const CWakeup&) = delete;
  CWakeup& operator=(const CWakeup&) = delete;

  // Makes the handle signalled until the next Clear(). Any thread.
  void Signal();
  // Makes it unsignalled again. Owner thread.
  void Clear();
  WaitHandle Handle() const { return handle_; }

 private:
  WaitHandle handle_;
};

// Sleeps until one of the handles is signalled (readable or hung up) or the
// time-out passes (kInfinite: no time-out). False on time-out.
bool WaitForAny(const WaitHandle* pHandles, int nHandles, uint32_t dwMilliseconds);

}  // namespace platform
