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

}  // namespace platform
