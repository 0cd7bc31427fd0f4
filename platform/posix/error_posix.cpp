#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace platform {
namespace {
thread_local PlatformError t_lastError;
}

const PlatformError& LastError() { return t_lastError; }

bool IsPathConflict(const PlatformError& error) {
  return error.nCode == ENOTDIR || error.nCode == EISDIR || error.nCode == ELOOP ||
         error.nCode == EEXIST;
}

void SetLastError(int nCode, const std::string& context) {
  t_lastError.nCode = nCode;
  t_lastError.text = context + ": " + std::strerror(nCode);
}

void SetLastErrorText(const std::string& text) {
  t_lastError.nCode = kLayerError;
  t_lastError.text = text;
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
  }
  return EIO;
}

}  // namespace platform
