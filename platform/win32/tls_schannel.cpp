// TLS through the system's Schannel (SSPI), as Windows programs do, with
// the certificate checked by hand: after the handshake the server's chain
// is built and judged by CryptoAPI's SSL policy with the host name. Never
// Schannel's own validation, which Wine's Schannel (over GnuTLS) does not
// do at all. TLS 1.2 (what every Windows and Wine 8 speak; Wine never
// negotiates 1.3). One credentials handle for the process, so Schannel's
// session cache resumes sessions across a task's connections.
#include "platform/win32/win32_prelude.h"

#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/stream.h"
#include "platform/text.h"

namespace platform {

class CTlsSession {
 public:
  CtxtHandle ctx{};
  bool bContext = false;
  SecPkgContext_StreamSizes sizes{};
  std::vector<char> incoming;  // received, not yet decrypted
  std::string plain;           // decrypted, not yet read
  bool bClosed = false;        // the server's close alert came
};

void TlsSessionDeleter::operator()(CTlsSession* pSession) const {
  if (pSession == nullptr) return;
  if (pSession->bContext) ::DeleteSecurityContext(&pSession->ctx);
  delete pSession;
}

namespace {

constexpr size_t kReceiveStep = 16 * 1024 + 512;
constexpr unsigned long kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                        ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

CredHandle* Credentials() {
  static CredHandle cred{};
  static const bool bOk = [] {
    SCHANNEL_CRED sc{};
    sc.dwVersion = SCHANNEL_CRED_VERSION;
    sc.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    sc.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    return ::AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                       &sc, nullptr, nullptr, &cred, &expiry) == SEC_E_OK;
  }();
  return bOk ? &cred : nullptr;
}

bool SendBytes(SocketHandle s, const void* p, size_t n) { return n == 0 || SendAll(s, p, n); }

// Waits for bytes within the deadline, looking at the stop flag every
// 100 ms; appends what came. 1 got bytes, 0 the peer closed or failed, -1
// stalled, -2 stopped.
int ReceiveSome(SocketHandle s, std::vector<char>* pIn, uint32_t dwStart, uint32_t dwLimit,
                const std::atomic<int32_t>* pStop) {
  for (;;) {
    if (pStop != nullptr && pStop->load() != 0) return -2;
    if (GetTickCount() - dwStart >= dwLimit) return -1;
    const int r = WaitReadable(s, 100);
    if (r < 0) return 0;
    if (r == 0) continue;
    char buffer[kReceiveStep];
    const int64_t n = Recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) return 0;
    pIn->insert(pIn->end(), buffer, buffer + n);
    return 1;
  }
}

std::string NameText(PCCERT_CONTEXT cert, bool bIssuer) {
  CERT_NAME_BLOB* name = bIssuer ? &cert->pCertInfo->Issuer : &cert->pCertInfo->Subject;
  wchar_t sz[512] = L"";
  ::CertNameToStrW(X509_ASN_ENCODING, name, CERT_X500_NAME_STR, sz, 512);
  std::u16string text;
  for (const wchar_t* p = sz; *p != 0; ++p) text.push_back(static_cast<char16_t>(*p));
  return Utf16ToUtf8(text);
}

std::wstring Wide(const char* sz) {
  std::wstring w;
  for (const char16_t c : Utf8ToUtf16(sz)) w.push_back(static_cast<wchar_t>(c));
  return w;
}

// True when the certificate names the IPv4 literal szHost among its
// subject alternative names: Wine's SSL policy matches DNS names only.
bool NamesAddress(PCCERT_CONTEXT cert, const char* szHost) {
  uint32_t address = 0;
  if (!ResolveIPv4(szHost, &address)) return false;
  unsigned a = 0, b = 0, c = 0, d = 0;
  char rest = 0;
  if (std::sscanf(szHost, "%u.%u.%u.%u%c", &a, &b, &c, &d, &rest) != 4) return false;
  const PCERT_EXTENSION ext =
      ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
  if (ext == nullptr) return false;
  CERT_ALT_NAME_INFO* pInfo = nullptr;
  DWORD dwSize = 0;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData, ext->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &pInfo, &dwSize)) {
    return false;
  }
  bool bFound = false;
  for (DWORD i = 0; i < pInfo->cAltEntry && !bFound; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = pInfo->rgAltEntry[i];
    bFound = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
             std::memcmp(entry.IPAddress.pbData, &address, 4) == 0;
  }
  ::LocalFree(pInfo);
  return bFound;
}

// The chain and name, judged by CryptoAPI's SSL policy.
bool CheckCertificate(CTlsSession& session, const char* szHost, TlsRefusal* pRefusal) {
  PCCERT_CONTEXT cert = nullptr;
  if (::QueryContextAttributesW(&session.ctx, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK ||
      cert == nullptr) {
    pRefusal->failure = TlsFailure::kUntrusted;
    pRefusal->text = "certificate refused: the server sent none";
    return false;
  }
  const std::string certText =
      "; certificate subject " + NameText(cert, false) + ", issuer " + NameText(cert, true);
  char* usage[] = {const_cast<char*>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  DWORD dwError = 0;
  DWORD dwChain = 0;
  if (!::CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, 0, nullptr, &chain)) {
    dwError = ::GetLastError();
  } else {
    std::wstring host = Wide(szHost);
    HTTPSPolicyCallbackData https{};
    https.cbStruct = sizeof https;
    https.dwAuthType = AUTHTYPE_SERVER;
    https.pwszServerName = host.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &https;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
      dwError = ::GetLastError();
    } else {
      dwError = status.dwError;
    }
    // The chain's own verdict too: Wine's SSL policy passes a chain that
    // ends at no trusted root. Revocation is not asked for, so its
    // unknown status is no fault.
    dwChain = chain->TrustStatus.dwErrorStatus &
              ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
    ::CertFreeCertificateChain(chain);
  }
  if (static_cast<HRESULT>(dwError) == CERT_E_CN_NO_MATCH && NamesAddress(cert, szHost)) dwError = 0;
  if (dwError == 0 && dwChain != 0) {
    dwError = (dwChain & CERT_TRUST_IS_NOT_TIME_VALID) != 0 ? static_cast<DWORD>(CERT_E_EXPIRED)
                                                              : static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
  }
  const LONG nTime = ::CertVerifyTimeValidity(nullptr, cert->pCertInfo);
  ::CertFreeCertificateContext(cert);
  if (dwError == 0) return true;
  switch (static_cast<HRESULT>(dwError)) {
    case CERT_E_EXPIRED:
      pRefusal->failure = nTime < 0 ? TlsFailure::kNotYetValid : TlsFailure::kExpired;
      pRefusal->text = nTime < 0 ? "certificate refused: certificate is not yet valid"
                                 : "certificate refused: certificate has expired";
      break;
    case CERT_E_CN_NO_MATCH:
      pRefusal->failure = TlsFailure::kWrongName;
      pRefusal->text = "certificate refused: it is not for this host";
      break;
    default: {
      pRefusal->failure = TlsFailure::kUntrusted;
      char sz[96];
      std::snprintf(sz, sizeof sz, "certificate refused: no trusted chain (0x%08lx)",
                    static_cast<unsigned long>(dwError));
      pRefusal->text = sz;
      break;
    }
  }
  pRefusal->text += certText;
  return false;
}

void RefuseHandshake(SECURITY_STATUS status, const std::vector<char>& received, TlsRefusal* pRefusal) {
  if (received.size() >= 5 && std::memcmp(received.data(), "HTTP/", 5) == 0) {
    pRefusal->failure = TlsFailure::kNotTls;
    pRefusal->text = "the server does not answer in TLS (plain HTTP on an https URL?)";
    return;
  }
  // Windows names a version the two sides do not share; Wine's Schannel
  // reports an internal error, so the server's first record tells: a
  // protocol_version alert (type 21, description 70), or a ServerHello
  // (type 22, message 2) of a version below TLS 1.2.
  const auto byte = [&received](size_t i) { return i < received.size() ? static_cast<unsigned char>(received[i]) : 0; };
  const bool bVersionAlert = (byte(0) == 21 && byte(6) == 70) ||
                             (received.size() >= 11 && byte(0) == 22 && byte(5) == 2 && (byte(9) << 8 | byte(10)) < 0x0303);
  char sz[160];
  if (status == SEC_E_UNSUPPORTED_FUNCTION || status == SEC_E_ALGORITHM_MISMATCH || bVersionAlert) {
    pRefusal->failure = TlsFailure::kOldProtocol;
    std::snprintf(sz, sizeof sz, "the server offers no TLS version this system speaks (TLS 1.2; Wine's speaks no 1.3) (0x%08lx)",
                  static_cast<unsigned long>(status));
  } else {
    pRefusal->failure = TlsFailure::kHandshake;
    std::snprintf(sz, sizeof sz, "TLS handshake failed (0x%08lx)", static_cast<unsigned long>(status));
  }
  pRefusal->text = sz;
}

// Decrypts every whole record the session holds. False on a failure.
bool DecryptBuffered(CTlsSession& session) {
  while (!session.incoming.empty() && !session.bClosed) {
    SecBuffer buffers[4] = {};
    buffers[0].BufferType = SECBUFFER_DATA;
    buffers[0].pvBuffer = session.incoming.data();
    buffers[0].cbBuffer = static_cast<unsigned long>(session.incoming.size());
    for (int i = 1; i < 4; ++i) buffers[i].BufferType = SECBUFFER_EMPTY;
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = ::DecryptMessage(&session.ctx, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return true;
    if (status == SEC_I_CONTEXT_EXPIRED) {
      session.bClosed = true;
      session.incoming.clear();
      return true;
    }
    if (status != SEC_E_OK) return false;
    std::vector<char> extra;
    for (const SecBuffer& b : buffers) {
      if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
        session.plain.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
      } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) {
        const char* pEnd = session.incoming.data() + session.incoming.size();
        extra.assign(pEnd - b.cbBuffer, pEnd);
      }
    }
    session.incoming = std::move(extra);
  }
  return true;
}

}  // namespace

namespace tls {

TlsSessionPtr Handshake(SocketHandle s, const char* szHost, uint32_t dwMilliseconds,
                        const std::atomic<int32_t>* pStop, TlsRefusal* pRefusal) {
  *pRefusal = TlsRefusal{};
  CredHandle* pCred = Credentials();
  if (pCred == nullptr) {
    pRefusal->failure = TlsFailure::kHandshake;
    pRefusal->text = "TLS cannot be started: Schannel gave no credentials";
    return nullptr;
  }
  TlsSessionPtr session(new CTlsSession);
  std::wstring target = Wide(szHost);
  const uint32_t dwStart = GetTickCount();
  std::vector<char> received;  // everything that came, for naming a non-TLS answer
  bool bFirst = true;
  for (;;) {
    SecBuffer inBuffers[2] = {};
    inBuffers[0].BufferType = SECBUFFER_TOKEN;
    inBuffers[0].pvBuffer = session->incoming.data();
    inBuffers[0].cbBuffer = static_cast<unsigned long>(session->incoming.size());
    inBuffers[1].BufferType = SECBUFFER_EMPTY;
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
    SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
    unsigned long attributes = 0;
    const SECURITY_STATUS status = ::InitializeSecurityContextW(
        pCred, bFirst ? nullptr : &session->ctx, target.data(), kContextFlags, 0, 0, bFirst ? nullptr : &inDesc, 0,
        bFirst ? &session->ctx : nullptr, &outDesc, &attributes, nullptr);
    if (bFirst && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) session->bContext = true;
    bFirst = false;
    if (outBuffer.pvBuffer != nullptr) {
      const bool bSent = SendBytes(s, outBuffer.pvBuffer, outBuffer.cbBuffer);
      ::FreeContextBuffer(outBuffer.pvBuffer);
      if (!bSent) {
        pRefusal->failure = TlsFailure::kHandshake;
        pRefusal->text = "TLS handshake failed: the connection was closed";
        return nullptr;
      }
    }
    if (status == SEC_E_INCOMPLETE_MESSAGE || status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK) {
      if (status != SEC_E_INCOMPLETE_MESSAGE) {
        // What the step did not take stays for the next one (or the data).
        std::vector<char> extra;
        if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer > 0) {
          const char* pEnd = session->incoming.data() + session->incoming.size();
          extra.assign(pEnd - inBuffers[1].cbBuffer, pEnd);
        }
        session->incoming = std::move(extra);
      }
      if (status == SEC_E_OK) break;
      if (status == SEC_I_CONTINUE_NEEDED && !session->incoming.empty()) continue;
      const size_t nBefore = session->incoming.size();
      const int r = ReceiveSome(s, &session->incoming, dwStart, dwMilliseconds, pStop);
      if (r == -2) {
        pRefusal->failure = TlsFailure::kStopped;
        pRefusal->text = "stopped";
        return nullptr;
      }
      if (r == -1) {
        pRefusal->failure = TlsFailure::kStalled;
        pRefusal->text = "the TLS handshake did not finish within " + std::to_string(dwMilliseconds / 1000) + " s";
        return nullptr;
      }
      if (r == 0) {
        RefuseHandshake(SEC_E_INTERNAL_ERROR, received, pRefusal);
        if (pRefusal->failure == TlsFailure::kHandshake) pRefusal->text = "TLS handshake failed: the server closed the connection";
        return nullptr;
      }
      received.insert(received.end(), session->incoming.begin() + static_cast<std::ptrdiff_t>(nBefore),
                      session->incoming.end());
      continue;
    }
    if (status == SEC_I_INCOMPLETE_CREDENTIALS) continue;  // a client certificate asked for: none
    RefuseHandshake(status, received, pRefusal);
    return nullptr;
  }
  if (!CheckCertificate(*session, szHost, pRefusal)) return nullptr;
  if (::QueryContextAttributesW(&session->ctx, SECPKG_ATTR_STREAM_SIZES, &session->sizes) != SEC_E_OK) {
    pRefusal->failure = TlsFailure::kHandshake;
    pRefusal->text = "TLS handshake failed: no stream sizes";
    return nullptr;
  }
  return session;
}

bool HasPending(CTlsSession& session) {
  DecryptBuffered(session);
  return !session.plain.empty() || session.bClosed;
}

int64_t Recv(CTlsSession& session, SocketHandle s, void* buffer, size_t n, bool bWait) {
  for (;;) {
    if (!DecryptBuffered(session)) return -1;
    if (!session.plain.empty()) {
      const size_t take = std::min(n, session.plain.size());
      std::memcpy(buffer, session.plain.data(), take);
      session.plain.erase(0, take);
      return static_cast<int64_t>(take);
    }
    if (session.bClosed) return 0;
    if (!bWait && WaitReadable(s, 0) == 0) return kRecvWouldBlock;
    char raw[kReceiveStep];
    const int64_t got = platform::Recv(s, raw, sizeof raw, 0);
    // Only the server's close alert is an end; anything else is a cut.
    if (got <= 0) return -1;
    session.incoming.insert(session.incoming.end(), raw, raw + got);
    bWait = true;  // a record begun is waited for
  }
}

bool SendAll(CTlsSession& session, SocketHandle s, const void* data, size_t n) {
  const auto* p = static_cast<const char*>(data);
  const SecPkgContext_StreamSizes& z = session.sizes;
  std::vector<char> record(z.cbHeader + z.cbMaximumMessage + z.cbTrailer);
  while (n > 0) {
    const size_t take = std::min<size_t>(n, z.cbMaximumMessage);
    std::memcpy(record.data() + z.cbHeader, p, take);
    SecBuffer buffers[4] = {};
    buffers[0] = {z.cbHeader, SECBUFFER_STREAM_HEADER, record.data()};
    buffers[1] = {static_cast<unsigned long>(take), SECBUFFER_DATA, record.data() + z.cbHeader};
    buffers[2] = {z.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + z.cbHeader + take};
    buffers[3].BufferType = SECBUFFER_EMPTY;
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    if (::EncryptMessage(&session.ctx, 0, &desc, 0) != SEC_E_OK) return false;
    if (!SendBytes(s, record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer)) return false;
    p += take;
    n -= take;
  }
  return true;
}

void Close(CTlsSession& session, SocketHandle s) {
  if (!session.bContext || session.sizes.cbMaximumMessage == 0) return;
  // The close alert, best effort: waiting for the server's would hold the caller.
  DWORD dwType = SCHANNEL_SHUTDOWN;
  SecBuffer control{sizeof dwType, SECBUFFER_TOKEN, &dwType};
  SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
  if (::ApplyControlToken(&session.ctx, &controlDesc) != SEC_E_OK) return;
  CredHandle* pCred = Credentials();
  SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
  unsigned long attributes = 0;
  ::InitializeSecurityContextW(pCred, &session.ctx, nullptr, kContextFlags, 0, 0, nullptr, 0, nullptr, &outDesc,
                               &attributes, nullptr);
  if (outBuffer.pvBuffer != nullptr) {
    SendBytes(s, outBuffer.pvBuffer, outBuffer.cbBuffer);
    ::FreeContextBuffer(outBuffer.pvBuffer);
  }
}

}  // namespace tls
}  // namespace platform
