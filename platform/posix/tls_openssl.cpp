// TLS through OpenSSL 3, as Debian's curl uses it: the system's trust store
// (and SSL_CERT_FILE / SSL_CERT_DIR, which OpenSSL reads for its defaults),
// the host name or IP address checked, TLS 1.2 at least, and sessions
// resumed across a task's connections to the same server.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <fcntl.h>
#include <poll.h>

#include <algorithm>

#include <map>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/posix/eintr_posix.h"
#include "platform/stream.h"

namespace platform {

class CTlsSession {
 public:
  SSL* ssl = nullptr;
  std::string server;  // the name sessions are kept under
};

void TlsSessionDeleter::operator()(CTlsSession* pSession) const {
  if (pSession == nullptr) return;
  SSL_free(pSession->ssl);
  delete pSession;
}

namespace {

// The last session of each server, for the next connection's resumption;
// each holds its reference until replaced or the process ends.
class CKeptSessions : public std::map<std::string, SSL_SESSION*> {
 public:
  ~CKeptSessions() {
    for (auto& kept : *this) SSL_SESSION_free(kept.second);
  }
};
std::mutex g_sessionsLock;
CKeptSessions g_sessions;  // guarded by g_sessionsLock

int KeepSession(SSL* ssl, SSL_SESSION* session) {
  const auto* pServer = static_cast<const std::string*>(SSL_get_app_data(ssl));
  if (pServer == nullptr) return 0;
  std::lock_guard<std::mutex> hold(g_sessionsLock);
  SSL_SESSION*& kept = g_sessions[*pServer];
  if (kept != nullptr) SSL_SESSION_free(kept);
  kept = session;
  return 1;  // the reference is ours now
}

SSL_CTX* Context() {
  static SSL_CTX* ctx = [] {
    SSL_CTX* c = SSL_CTX_new(TLS_client_method());
    if (c == nullptr) return c;
    SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
    SSL_CTX_set_verify(c, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_default_verify_paths(c);
    SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(c, KeepSession);
    return c;
  }();
  return ctx;
}

int Poll(SocketHandle s, short events, int nMilliseconds) {
  pollfd p{static_cast<int>(s), events, 0};
  return RetryOnInterrupt([&] { return ::poll(&p, 1, nMilliseconds); });
}

std::string NameText(const X509_NAME* name) {
  if (name == nullptr) return "?";
  char sz[512];
  X509_NAME_oneline(name, sz, sizeof sz);
  return sz;
}

// The certificate the server sent first, even when the handshake failed
// over it.
std::string CertificateText(SSL* ssl) {
  const X509* cert = SSL_get0_peer_certificate(ssl);
  STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl);
  if (cert == nullptr && chain != nullptr && sk_X509_num(chain) > 0) cert = sk_X509_value(chain, 0);
  if (cert == nullptr) return "";
  return "; certificate subject " + NameText(X509_get_subject_name(cert)) + ", issuer " +
         NameText(X509_get_issuer_name(cert));
}

void Classify(SSL* ssl, unsigned long nError, TlsRefusal* pRefusal) {
  const long nVerify = SSL_get_verify_result(ssl);
  if (nVerify != X509_V_OK) {
    switch (nVerify) {
      case X509_V_ERR_CERT_HAS_EXPIRED:
        pRefusal->failure = TlsFailure::kExpired;
        break;
      case X509_V_ERR_CERT_NOT_YET_VALID:
        pRefusal->failure = TlsFailure::kNotYetValid;
        break;
      case X509_V_ERR_HOSTNAME_MISMATCH:
      case X509_V_ERR_IP_ADDRESS_MISMATCH:
        pRefusal->failure = TlsFailure::kWrongName;
        break;
      default:
        pRefusal->failure = TlsFailure::kUntrusted;
        break;
    }
    pRefusal->text = std::string("certificate refused: ") + X509_verify_cert_error_string(nVerify);
    return;
  }
  switch (ERR_GET_REASON(nError)) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_RECORD_LENGTH_MISMATCH:
      pRefusal->failure = TlsFailure::kNotTls;
      pRefusal->text = "the server does not answer in TLS (plain HTTP on an https URL?)";
      return;
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_VERSION_TOO_LOW:
      pRefusal->failure = TlsFailure::kOldProtocol;
      pRefusal->text = "the server offers no TLS version from 1.2 up";
      return;
    default:
      break;
  }
  pRefusal->failure = TlsFailure::kHandshake;
  char sz[256] = "the connection ended";
  if (nError != 0) ERR_error_string_n(nError, sz, sizeof sz);
  pRefusal->text = std::string("TLS handshake failed: ") + sz;
}

bool IsIpLiteral(const char* szHost) {
  ASN1_OCTET_STRING* ip = a2i_IPADDRESS(szHost);
  ASN1_OCTET_STRING_free(ip);
  return ip != nullptr;
}

}  // namespace

namespace tls {

TlsSessionPtr Handshake(SocketHandle s, const char* szHost, uint32_t dwMilliseconds,
                        const std::atomic<int32_t>* pStop, TlsRefusal* pRefusal) {
  *pRefusal = TlsRefusal{};
  SSL_CTX* ctx = Context();
  TlsSessionPtr session(new CTlsSession);
  session->ssl = ctx != nullptr ? SSL_new(ctx) : nullptr;
  if (session->ssl == nullptr || SSL_set_fd(session->ssl, static_cast<int>(s)) != 1) {
    pRefusal->failure = TlsFailure::kHandshake;
    pRefusal->text = "TLS cannot be started";
    return nullptr;
  }
  SSL* ssl = session->ssl;
  if (IsIpLiteral(szHost)) {
    // No server name goes with an address; the certificate must name it.
#ifndef QARNAUTO_TLS_NAME_CHECK_OFF
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), szHost);
#endif
  } else {
    SSL_set_tlsext_host_name(ssl, szHost);
#ifndef QARNAUTO_TLS_NAME_CHECK_OFF
    SSL_set1_host(ssl, szHost);
#endif
  }
  session->server = szHost;
  SSL_set_app_data(ssl, &session->server);
  {
    std::lock_guard<std::mutex> hold(g_sessionsLock);
    const auto it = g_sessions.find(session->server);
    if (it != g_sessions.end()) SSL_set_session(ssl, it->second);
  }

  // Non-blocking while it lasts, so a stall or a stop ends it in time.
  const int fd = static_cast<int>(s);
  const int nFlags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, nFlags | O_NONBLOCK);
  const uint32_t dwStart = GetTickCount();
  bool bDone = false;
  unsigned long nError = 0;
  for (;;) {
    ERR_clear_error();
    const int r = SSL_connect(ssl);
    if (r == 1) {
      bDone = true;
      break;
    }
    const int nWhy = SSL_get_error(ssl, r);
    if (nWhy != SSL_ERROR_WANT_READ && nWhy != SSL_ERROR_WANT_WRITE) {
      nError = ERR_peek_last_error();
      break;
    }
    short events = nWhy == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
    bool bWaited = false;
    while (!bWaited) {
      if (pStop != nullptr && pStop->load() != 0) {
        pRefusal->failure = TlsFailure::kStopped;
        pRefusal->text = "stopped";
        ::fcntl(fd, F_SETFL, nFlags);
        return nullptr;
      }
      if (GetTickCount() - dwStart >= dwMilliseconds) {
        pRefusal->failure = TlsFailure::kStalled;
        pRefusal->text = "the TLS handshake did not finish within " + std::to_string(dwMilliseconds / 1000) + " s";
        ::fcntl(fd, F_SETFL, nFlags);
        return nullptr;
      }
      bWaited = Poll(s, events, 100) != 0;
    }
  }
  ::fcntl(fd, F_SETFL, nFlags);
  if (!bDone) {
    Classify(ssl, nError, pRefusal);
    pRefusal->text += CertificateText(ssl);
    return nullptr;
  }
  return session;
}

bool HasPending(CTlsSession& session) { return SSL_pending(session.ssl) > 0; }

int64_t Recv(CTlsSession& session, SocketHandle s, void* buffer, size_t n, bool bWait) {
  if (!bWait && SSL_pending(session.ssl) == 0 && Poll(s, POLLIN, 0) == 0) return kRecvWouldBlock;
  ERR_clear_error();
  const int r = SSL_read(session.ssl, buffer, static_cast<int>(std::min<size_t>(n, 1 << 30)));
  if (r > 0) return r;
  // Only the server's close alert is an end; anything else is a cut.
  return SSL_get_error(session.ssl, r) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

bool SendAll(CTlsSession& session, SocketHandle, const void* data, size_t n) {
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    ERR_clear_error();
    const int r = SSL_write(session.ssl, p, static_cast<int>(std::min<size_t>(n, 1 << 30)));
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

void Close(CTlsSession& session, SocketHandle) {
  ERR_clear_error();
  // The alert only; waiting for the server's would hold the caller.
  if (SSL_is_init_finished(session.ssl)) SSL_shutdown(session.ssl);
}

}  // namespace tls
}  // namespace platform
