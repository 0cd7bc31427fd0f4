#include <winsock2.h>
#include <ws2tcpip.h>
#include "platform/win32/win32_prelude.h"

#include <string>

#include "platform/error.h"
#include "platform/socket.h"

namespace platform {
namespace {

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

// r as it came, with the reason given when r says the call failed.
template <class T>
T Checked(T r, const char* szContext, Outcome* pWhy) {
  if (r < 0 && pWhy != nullptr) *pWhy = Outcome::System(::WSAGetLastError(), szContext);
  return r;
}

Outcome CheckedCall(int r, const char* szContext) {
  return r < 0 ? Outcome::System(::WSAGetLastError(), szContext) : Outcome::OK();
}

void Tell(Outcome* pWhy, int nCode, const std::string& context) {
  if (pWhy != nullptr) *pWhy = Outcome::System(nCode, context);
}

// select() on one socket: 1 ready, 0 time-out, -1 error. The error set
// counts for a connect, as a refused one lands there.
int SelectOne(SocketHandle s, bool bWrite, uint32_t dwMilliseconds) {
  fd_set set, errors;
  FD_ZERO(&set);
  FD_ZERO(&errors);
  FD_SET(Sock(s), &set);
  FD_SET(Sock(s), &errors);
  timeval tv{};
  tv.tv_sec = static_cast<long>(dwMilliseconds / 1000);
  tv.tv_usec = static_cast<long>((dwMilliseconds % 1000) * 1000);
  const int r = ::select(0, bWrite ? nullptr : &set, bWrite ? &set : nullptr, &errors,
                         dwMilliseconds == 0xFFFFFFFFu ? nullptr : &tv);
  if (r < 0) return -1;
  return r > 0 ? 1 : 0;
}

}  // namespace

bool StartNetworking() {
  WSADATA data{};
  return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

SocketHandle OpenStreamSocket(Outcome* pWhy) {
  const SOCKET s =
      ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    Tell(pWhy, ::WSAGetLastError(), "socket");
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(s);
}

Outcome SetSocketTimeouts(SocketHandle s, uint32_t dwMilliseconds) {
  const DWORD ms = dwMilliseconds;
  const char* p = reinterpret_cast<const char*>(&ms);
  Outcome why =
      CheckedCall(::setsockopt(Sock(s), SOL_SOCKET, SO_SNDTIMEO, p, sizeof ms), "socket time-out");
  if (!why) return why;
  return CheckedCall(::setsockopt(Sock(s), SOL_SOCKET, SO_RCVTIMEO, p, sizeof ms),
                     "socket time-out");
}

Outcome SetNonBlocking(SocketHandle s, bool bOn) {
  u_long on = bOn ? 1 : 0;
  return CheckedCall(::ioctlsocket(Sock(s), FIONBIO, &on), "socket mode");
}

int WaitConnected(SocketHandle s, uint32_t dwMilliseconds, Outcome* pWhy) {
  const int r = SelectOne(s, true, dwMilliseconds);
  if (r <= 0) return r;
  int error = 0;
  int len = sizeof error;
  if (::getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) {
    error = ::WSAGetLastError();
  }
  if (error != 0) {
    Tell(pWhy, error, "connect");
    return -1;
  }
  return 1;
}

int WaitReadable(SocketHandle s, uint32_t dwMilliseconds, Outcome* pWhy) {
  return Checked(SelectOne(s, false, dwMilliseconds), "select", pWhy);
}

int64_t Recv(SocketHandle s, void* buffer, size_t n, int flags, Outcome* pWhy) {
  // The socket's receive time-out, kept by a wait of our own: Wine lets a
  // blocking receive wait past it once the socket has been non-blocking.
  DWORD dwTimeout = 0;
  int len = sizeof dwTimeout;
  if (::getsockopt(Sock(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&dwTimeout), &len) ==
          0 &&
      dwTimeout > 0 && SelectOne(s, false, dwTimeout) == 0) {
    Tell(pWhy, WSAETIMEDOUT, "recv");
    return -1;
  }
  const int step = static_cast<int>(n > 0x40000000u ? 0x40000000u : n);
  return Checked<int64_t>(::recv(Sock(s), static_cast<char*>(buffer), step, flags), "recv", pWhy);
}

int64_t RecvIfReady(SocketHandle s, void* buffer, size_t n, int flags, Outcome* pWhy) {
  // Windows has no per-call "do not wait": a look first, then a receive
  // that the look says will not block.
  const int r = SelectOne(s, false, 0);
  if (r == 0) return kRecvWouldBlock;
  if (r < 0) {
    Tell(pWhy, ::WSAGetLastError(), "select");
    return -1;
  }
  return Recv(s, buffer, n, flags, pWhy);
}

int64_t Send(SocketHandle s, const void* data, size_t n, Outcome* pWhy) {
  const int step = static_cast<int>(n > 0x40000000u ? 0x40000000u : n);
  return Checked<int64_t>(::send(Sock(s), static_cast<const char*>(data), step, 0), "send", pWhy);
}

void CloseSocket(SocketHandle s) {
  if (s != kInvalidSocket) ::closesocket(Sock(s));
}

void ResetSocket(SocketHandle s) {
  linger l{1, 0};
  ::setsockopt(Sock(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  ::closesocket(Sock(s));
}

void ShutdownSend(SocketHandle s) { ::shutdown(Sock(s), SD_SEND); }

SocketHandle ListenLoopback(uint16_t port, int nBacklog, uint16_t* pPort, Outcome* pWhy) {
  StartNetworking();
  const SocketHandle s = OpenStreamSocket(pWhy);
  if (s == kInvalidSocket) return kInvalidSocket;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(port);
  int len = sizeof sa;
  if (::bind(Sock(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(Sock(s), nBacklog) != 0 ||
      ::getsockname(Sock(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    Tell(pWhy, ::WSAGetLastError(), "listen");
    ::closesocket(Sock(s));
    return kInvalidSocket;
  }
  if (pPort) *pPort = ntohs(sa.sin_port);
  return s;
}

SocketHandle Accept(SocketHandle listener, uint32_t dwMilliseconds, Outcome* pWhy) {
  if (SelectOne(listener, false, dwMilliseconds) <= 0) return kInvalidSocket;
  const SOCKET s = ::accept(Sock(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    Tell(pWhy, ::WSAGetLastError(), "accept");
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(s);
}

}  // namespace platform
