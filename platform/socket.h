// IPv4 stream sockets: what the engine's connections and the test servers need.
// A call that fails gives its reason (error.h) through the Outcome it returns
// or, for those that return a socket, a count or a state, through *pWhy when
// the caller asks for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/error.h"

namespace platform {

using SocketHandle = intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// Prepares the network layer; true when sockets can be used. Called once
// during the engine's static initialisation.
bool StartNetworking();

// Resolves a dotted address or a host name to an IPv4 address in network
// byte order. Thread-safe. False when the name does not resolve.
bool ResolveIPv4(const char* szHost, uint32_t* pAddress, Outcome* pWhy = nullptr);

// A new TCP socket, or kInvalidSocket.
SocketHandle OpenStreamSocket(Outcome* pWhy = nullptr);

// Send and receive time-outs of every later blocking call on the socket.
Outcome SetSocketTimeouts(SocketHandle s, uint32_t dwMilliseconds);

Outcome SetNonBlocking(SocketHandle s, bool bOn);

// Starts a connect (on a non-blocking socket it returns at once).
void StartConnect(SocketHandle s, uint32_t address, uint16_t port);

// Waits until a started connect has finished: 1 connected, 0 time-out, -1
// the connect failed (refused, unreachable). Unlike a bare writability test
// a refused connect is never reported as connected.
int WaitConnected(SocketHandle s, uint32_t dwMilliseconds, Outcome* pWhy = nullptr);

// Waits for data or end of stream: 1 readable, 0 time-out, -1 error.
int WaitReadable(SocketHandle s, uint32_t dwMilliseconds, Outcome* pWhy = nullptr);

// One receive; returns the bytes received, 0 at end of stream, -1 on error or
// time-out. `flags` are the receive flags of the caller (0 normally).
int64_t Recv(SocketHandle s, void* buffer, size_t n, int flags, Outcome* pWhy = nullptr);

// One receive that never waits: kRecvWouldBlock when nothing has arrived,
// otherwise as Recv.
inline constexpr int64_t kRecvWouldBlock = -2;
int64_t RecvIfReady(SocketHandle s, void* buffer, size_t n, int flags, Outcome* pWhy = nullptr);

// One send that never raises a signal on a closed peer; bytes sent or -1.
int64_t Send(SocketHandle s, const void* data, size_t n, Outcome* pWhy = nullptr);

// Sends every byte (loops over short sends).
Outcome SendAll(SocketHandle s, const void* data, size_t n);

void CloseSocket(SocketHandle s);

// Owns a socket and closes it when it goes, whichever way a function ends.
// Move-only; Get() lends the handle, Release() gives it away.
class CSocket {
 public:
  CSocket() = default;
  explicit CSocket(SocketHandle s) : s_(s) {}
  ~CSocket() { CloseSocket(s_); }
  CSocket(CSocket&& other) noexcept : s_(other.Release()) {}
  CSocket& operator=(CSocket&& other) noexcept {
    if (this != &other) {
      CloseSocket(s_);
      s_ = other.Release();
    }
    return *this;
  }
  CSocket(const CSocket&) = delete;
  CSocket& operator=(const CSocket&) = delete;

  SocketHandle Get() const { return s_; }
  bool IsValid() const { return s_ != kInvalidSocket; }
  void Close() {
    CloseSocket(s_);
    s_ = kInvalidSocket;
  }
  SocketHandle Release() {
    const SocketHandle s = s_;
    s_ = kInvalidSocket;
    return s;
  }

 private:
  SocketHandle s_ = kInvalidSocket;
};

// Closes with a reset instead of an orderly end of stream.
void ResetSocket(SocketHandle s);

// Ends our sending direction; the peer sees end of stream.
void ShutdownSend(SocketHandle s);

// Listening socket on 127.0.0.1 (port 0: any free port, reported in *pPort).
SocketHandle ListenLoopback(uint16_t port, int nBacklog, uint16_t* pPort, Outcome* pWhy = nullptr);

// Waits up to the time-out for a connection; kInvalidSocket on time-out
// (*pWhy stays a success) or an error.
SocketHandle Accept(SocketHandle listener, uint32_t dwMilliseconds, Outcome* pWhy = nullptr);

// The IPv4 address (network byte order) of the peer, 0 when unknown.
uint32_t PeerAddress(SocketHandle s);

}  // namespace platform
