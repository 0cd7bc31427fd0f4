// For the platform's own use: a lock on "<path>.lock" that other processes
// taking the same lock wait for, held for the life of the object.
#pragma once

#include <string>

#include "platform/error.h"
#include "platform/file.h"

namespace platform {

class CFileLock {
 public:
  explicit CFileLock(const std::string& path);  // waits for the lock
  ~CFileLock();                                 // releases it
  CFileLock(const CFileLock&) = delete;
  CFileLock& operator=(const CFileLock&) = delete;
  // False when the lock could not be taken (Why() says why).
  bool Held() const { return why_.ok(); }
  const Outcome& Why() const { return why_; }

 private:
  CFile file_;
  Outcome why_;
};

}  // namespace platform
