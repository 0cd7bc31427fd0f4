#include "platform/socket.h"

namespace platform {

Outcome SendAll(SocketHandle s, const void* data, size_t n) {
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    Outcome why;
    const int64_t r = Send(s, p, n, &why);
    if (r < 0) return why;
    // A send that takes nothing would loop for ever.
    if (r == 0) return Outcome::Failure("send: the connection took no bytes");
    p += r;
    n -= static_cast<size_t>(r);
  }
  return Outcome::OK();
}

}  // namespace platform
