#include "platform/socket.h"

// Each system's socket headers, as libuv's common code takes them: the
// calls below are the same on both, only their handle and length types
// differ.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#endif

#include <string>

namespace platform {
namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
using AddressLength = int;

int ResolverErrorCode(int r) { return r != 0 ? r : WSAHOST_NOT_FOUND; }
#else
using NativeSocket = int;
using AddressLength = socklen_t;

// The resolver's reasons are not errno values: a name that does not resolve
// is reported as an unreachable host.
int ResolverErrorCode(int r) { return r == EAI_SYSTEM ? errno : EHOSTUNREACH; }
#endif

NativeSocket Native(SocketHandle s) { return static_cast<NativeSocket>(s); }

}  // namespace

bool ResolveIPv4(const char* szHost, uint32_t* pAddress, Outcome* pWhy) {
#ifdef _WIN32
  StartNetworking();  // counted by the system; harmless when already started
#endif
  in_addr literal{};
  if (::inet_pton(AF_INET, szHost, &literal) == 1) {
    *pAddress = literal.s_addr;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  const int r = ::getaddrinfo(szHost, nullptr, &hints, &result);
  if (r != 0 || result == nullptr) {
    if (pWhy != nullptr)
      *pWhy = Outcome::System(ResolverErrorCode(r), std::string("resolve ") + szHost);
    if (result != nullptr) ::freeaddrinfo(result);
    return false;
  }
  *pAddress = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(result);
  return true;
}

void StartConnect(SocketHandle s, uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(port);
  // A non-blocking connect reports "in progress" here; WaitConnected says
  // how it ended.
  ::connect(Native(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

uint32_t PeerAddress(SocketHandle s) {
  sockaddr_in sa{};
  AddressLength len = sizeof sa;
  if (::getpeername(Native(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return sa.sin_addr.s_addr;
}

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
