#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "platform/error.h"
#include "platform/posix/eintr_posix.h"
#include "platform/socket.h"

namespace platform {
namespace {

int Fd(SocketHandle s) { return static_cast<int>(s); }

// The one place this file turns errno into the platform's error: r as it
// came, with the reason given when r says the call failed.
template <class T>
T Checked(T r, const char* szContext, Outcome* pWhy) {
  if (r < 0 && pWhy != nullptr) *pWhy = Outcome::System(errno, szContext);
  return r;
}

Outcome CheckedCall(int r, const char* szContext) {
  return r < 0 ? Outcome::System(errno, szContext) : Outcome::OK();
}

int PollOne(SocketHandle s, short events, uint32_t dwMilliseconds, short* pRevents) {
  pollfd p{Fd(s), events, 0};
  int timeout = dwMilliseconds > 0x7FFFFFFFu ? -1 : static_cast<int>(dwMilliseconds);
  const int r = RetryOnInterrupt([&] { return ::poll(&p, 1, timeout); });
  if (pRevents) *pRevents = p.revents;
  return r;
}

}  // namespace

bool StartNetworking() {
  // A peer that closes while we send must not kill the process; sends also
  // pass MSG_NOSIGNAL, this covers anything else that writes to a socket.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

SocketHandle OpenStreamSocket(Outcome* pWhy) {
  int fd = Checked(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), "socket", pWhy);
  return fd < 0 ? kInvalidSocket : fd;
}

Outcome SetSocketTimeouts(SocketHandle s, uint32_t dwMilliseconds) {
  timeval tv{};
  tv.tv_sec = dwMilliseconds / 1000;
  tv.tv_usec = (dwMilliseconds % 1000) * 1000;
  Outcome why =
      CheckedCall(::setsockopt(Fd(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv), "socket time-out");
  if (!why) return why;
  return CheckedCall(::setsockopt(Fd(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv),
                     "socket time-out");
}

Outcome SetNonBlocking(SocketHandle s, bool bOn) {
  int flags = ::fcntl(Fd(s), F_GETFL);
  if (flags < 0) return Outcome::System(errno, "socket mode");
  flags = bOn ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return CheckedCall(::fcntl(Fd(s), F_SETFL, flags), "socket mode");
}

int WaitConnected(SocketHandle s, uint32_t dwMilliseconds, Outcome* pWhy) {
  int r = PollOne(s, POLLOUT, dwMilliseconds, nullptr);
  if (r <= 0) return r;
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
  if (error != 0) {
    if (pWhy != nullptr) *pWhy = Outcome::System(error, "connect");
    return -1;
  }
  return 1;
}

int WaitReadable(SocketHandle s, uint32_t dwMilliseconds, Outcome* pWhy) {
  int r = Checked(PollOne(s, POLLIN, dwMilliseconds, nullptr), "poll", pWhy);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int64_t Recv(SocketHandle s, void* buffer, size_t n, int flags, Outcome* pWhy) {
  return Checked(RetryOnInterrupt([&] { return ::recv(Fd(s), buffer, n, flags); }), "recv", pWhy);
}

int64_t RecvIfReady(SocketHandle s, void* buffer, size_t n, int flags, Outcome* pWhy) {
  const ssize_t r = RetryOnInterrupt([&] { return ::recv(Fd(s), buffer, n, flags | MSG_DONTWAIT); });
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kRecvWouldBlock;
  return Checked(r, "recv", pWhy);
}

int64_t Send(SocketHandle s, const void* data, size_t n, Outcome* pWhy) {
  return Checked(RetryOnInterrupt([&] { return ::send(Fd(s), data, n, MSG_NOSIGNAL); }), "send",
                 pWhy);
}

void CloseSocket(SocketHandle s) {
  if (s != kInvalidSocket) ::close(Fd(s));
}

void ResetSocket(SocketHandle s) {
  linger l{1, 0};
  ::setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(Fd(s));
}

void ShutdownSend(SocketHandle s) { ::shutdown(Fd(s), SHUT_WR); }

SocketHandle ListenLoopback(uint16_t port, int nBacklog, uint16_t* pPort, Outcome* pWhy) {
  int fd = Checked(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), "socket", pWhy);
  if (fd < 0) return kInvalidSocket;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(port);
  socklen_t len = sizeof sa;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, nBacklog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    if (pWhy != nullptr) *pWhy = Outcome::System(errno, "listen");
    ::close(fd);
    return kInvalidSocket;
  }
  if (pPort) *pPort = ntohs(sa.sin_port);
  return fd;
}

SocketHandle Accept(SocketHandle listener, uint32_t dwMilliseconds, Outcome* pWhy) {
  if (PollOne(listener, POLLIN, dwMilliseconds, nullptr) <= 0) return kInvalidSocket;
  const int fd = Checked(
      RetryOnInterrupt([&] { return ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC); }),
      "accept", pWhy);
  return fd < 0 ? kInvalidSocket : fd;
}

}  // namespace platform
