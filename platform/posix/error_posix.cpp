#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace platform {

Outcome Outcome::System(int nCode, const std::string& context) {
  // A failure that the system gave no number for is still a failure.
  if (nCode == 0) return Failure(context + ": unknown error");
  return Outcome(nCode, context + ": " + std::strerror(nCode));
}

bool Outcome::IsPathConflict() const {
  return nCode_ == ENOTDIR || nCode_ == EISDIR || nCode_ == ELOOP || nCode_ == EEXIST;
}

int SystemErrorCode(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kNone: return 0;
    case ErrorKind::kNoSpace: return ENOSPC;
    case ErrorKind::kIo: return EIO;
    case ErrorKind::kAccessDenied: return EACCES;
    case ErrorKind::kNotPermitted: return EPERM;
    case ErrorKind::kCrossDevice: return EXDEV;
    case ErrorKind::kInvalidArgument:
      return EINVAL;
    case ErrorKind::kBadHandle:
      return EBADF;
    case ErrorKind::kNotADirectory:
      return ENOTDIR;
  }
  return EIO;
}

}  // namespace platform
