#include "platform/win32/win32_prelude.h"

#include "platform/instance_lock.h"
#include "platform/win32/win32_util.h"

namespace platform {

bool AcquireInstanceLock(const std::string& name) {
  // A named mutex, as the design has it; never closed, so it is held for
  // the process's life and released by the system when the process ends.
  const HANDLE hMutex = ::CreateMutexW(nullptr, FALSE, Wide(name).c_str());
  if (hMutex == nullptr) return true;  // no lock to be had: do not refuse to run
  return ::GetLastError() != ERROR_ALREADY_EXISTS;
}

}  // namespace platform
