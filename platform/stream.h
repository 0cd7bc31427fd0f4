// A connected TCP stream, in clear or through TLS: what the engine's HTTP
// code reads and writes. TLS is the system's own (OpenSSL on Linux,
// Schannel on Windows), always with the server's certificate chain and
// name checked; there is no way to turn the checks off.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/socket.h"

namespace platform {

// Why a TLS session could not be opened. Each is a reason no retry can
// mend soon, so the engine gives up on it at once.
enum class TlsFailure {
  kNone,
  kUntrusted,    // the chain leads to no trusted root (unknown CA, self-signed, missing intermediate)
  kExpired,
  kNotYetValid,
  kWrongName,    // the certificate is not for the host (or IP address) of the URL
  kOldProtocol,  // the server offers nothing from TLS 1.2 up (or nothing this TLS speaks)
  kNotTls,       // the server answers in something else, plain HTTP say
  kHandshake,    // any other failure of the handshake
  kStalled,      // the handshake did not finish in time
  kStopped,      // a stop was asked for
};

struct TlsRefusal {
  TlsFailure failure = TlsFailure::kNone;
  // For the run log: what failed, and the certificate's subject and issuer
  // where the server sent one.
  std::string text;
};

// The system's state of one TLS session (tls_openssl.cpp, tls_schannel.cpp).
class CTlsSession;
struct TlsSessionDeleter {
  void operator()(CTlsSession* pSession) const;
};
using TlsSessionPtr = std::unique_ptr<CTlsSession, TlsSessionDeleter>;

class CStream {
 public:
  CStream();
  explicit CStream(CSocket s);
  ~CStream();
  CStream(CStream&& other) noexcept;
  CStream& operator=(CStream&& other) noexcept;
  CStream(const CStream&) = delete;
  CStream& operator=(const CStream&) = delete;

  // Opens TLS over the connected socket as a client of szHost (sent as the
  // server name unless it is an IPv4 literal, and checked against the
  // certificate's names or IP addresses), verifying the chain against the
  // system's trust (on Linux also the CA file in SSL_CERT_FILE, as OpenSSL
  // reads it). Gives up after dwMilliseconds, or within 100 ms of *pStop
  // (may be null) becoming non-zero. False with the reason in *pRefusal;
  // the stream is then closed. TLS 1.2 at least.
  bool StartTls(const char* szHost, uint32_t dwMilliseconds, const std::atomic<int32_t>* pStop,
                TlsRefusal* pRefusal);
  bool IsTls() const { return tls_ != nullptr; }

  // As the socket calls of socket.h, with one difference under TLS: Recv
  // returns 0 only at the server's orderly TLS close; a connection that
  // ends without it returns -1, so a cut is never taken for the end.
  int WaitReadable(uint32_t dwMilliseconds);
  int64_t Recv(void* buffer, size_t n);
  int64_t RecvIfReady(void* buffer, size_t n);  // kRecvWouldBlock when nothing is ready
  bool SendAll(const void* data, size_t n);

  bool IsValid() const { return s_.IsValid(); }
  SocketHandle Socket() const { return s_.Get(); }
  void Close();

 private:
  CSocket s_;
  TlsSessionPtr tls_;
};

// The system's side of TLS, for stream.cpp alone.
namespace tls {
TlsSessionPtr Handshake(SocketHandle s, const char* szHost, uint32_t dwMilliseconds,
                        const std::atomic<int32_t>* pStop, TlsRefusal* pRefusal);
bool HasPending(CTlsSession& session);  // decrypted bytes wait to be read
// bWait false: kRecvWouldBlock when no byte can be had without waiting.
int64_t Recv(CTlsSession& session, SocketHandle s, void* buffer, size_t n, bool bWait);
bool SendAll(CTlsSession& session, SocketHandle s, const void* data, size_t n);
// Ends the session (a close alert where the connection still stands).
void Close(CTlsSession& session, SocketHandle s);
}  // namespace tls

}  // namespace platform
