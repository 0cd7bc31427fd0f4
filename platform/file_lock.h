// For the platform's own use: a lock on "<path>.lock" that other processes
// taking the same lock wait for, held for the life of the object.
#pragma once

#include <string>

#include "platform/file.h"

namespace platform {

class CFileLock {
 public:
  explicit CFileLock(const std::string& path);  // waits for the lock
  ~CFileLock();                                 // releases it
  CFileLock(const CFileLock&) = delete;
  CFileLock& operator=(const CFileLock&) = delete;
  // False when the lock could not be taken (LastError says why).
  bool Held() const { return bHeld_; }

 private:
  CFile file_;
  bool bHeld_ = false;
};

}  // namespace platform
