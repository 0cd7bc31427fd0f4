#include "platform/socket.h"

namespace platform {

bool SendAll(SocketHandle s, const void* data, size_t n) {
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const int64_t r = Send(s, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

}  // namespace platform
