#include "engine/url.h"

#include <cstring>
#include <string_view>

namespace {

bool SchemeIs(const char* szUrl, const char* szScheme) {
  size_t i = 0;
  for (; szScheme[i] != '\0'; ++i) {
    char c = szUrl[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != szScheme[i]) return false;
  }
  return std::strncmp(szUrl + i, "://", 3) == 0;
}

bool CopyField(std::string_view text, char* szOut, size_t capacity) {
  if (text.size() >= capacity) return false;
  std::memcpy(szOut, text.data(), text.size());
  szOut[text.size()] = '\0';
  return true;
}

// The atoi reading of a port (leading digits, 0 when there are none), but a
// value outside 0..65535 is refused rather than wrapped into another port.
bool ParsePort(std::string_view text, int32_t* pPort) {
  int32_t port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    port = port * 10 + (c - '0');
    if (port > 65535) return false;
  }
  *pPort = port;
  return true;
}

// Splits "host[:port]" with the given default port.
bool SplitHostPort(std::string_view hostPort, int32_t nDefaultPort, char* szHost, int32_t* pPort) {
  *pPort = nDefaultPort;
  size_t colon = hostPort.find(':');
  if (colon != std::string_view::npos) {
    if (!ParsePort(hostPort.substr(colon + 1), pPort)) return false;
    hostPort = hostPort.substr(0, colon);
  }
  return CopyField(hostPort, szHost, kUrlCapacity);
}

// Cuts the text after the scheme into authority and path.
bool SplitAuthority(const char* szUrl, size_t nSchemeLength, std::string_view* pAuthority,
                    char* szRemotePath) {
  const size_t length = std::strlen(szUrl);
  if (length >= static_cast<size_t>(kUrlCapacity) || length < nSchemeLength) return false;
  std::string_view rest(szUrl + nSchemeLength, length - nSchemeLength);
  size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return false;
  *pAuthority = rest.substr(0, slash);
  return CopyField(rest.substr(slash), szRemotePath, kUrlCapacity);
}

}  // namespace

int32_t JudgeProtocol(const char* szUrl) {
  if (szUrl == nullptr) return kProtocolNone;
  if (SchemeIs(szUrl, "http")) return kProtocolHttp;
  if (SchemeIs(szUrl, "https")) return kProtocolHttps;
  if (SchemeIs(szUrl, "ftp")) return kProtocolFtp;
  return kProtocolNone;
}

bool SplitHttpUrl(const char* szUrl, char* szHost, int32_t* pPort, char* szRemotePath, bool* pTls) {
  const bool bTls = szUrl != nullptr && SchemeIs(szUrl, "https");
  if (pTls != nullptr) *pTls = bTls;
  std::string_view authority;
  return szUrl != nullptr && SplitAuthority(szUrl, bTls ? 8 : 7, &authority, szRemotePath) &&
         SplitHostPort(authority, bTls ? 443 : 80, szHost, pPort);
}

int32_t SplitUrl(const char* szUrl, char* szHost, int32_t* pPort, char* szRemotePath, char* szUser,
                 char* szPassword) {
  std::string_view authority;
  if (szUrl == nullptr || !SplitAuthority(szUrl, 6, &authority, szRemotePath)) return -1;
  std::string_view user = "anonymous";
  std::string_view password = "WebUsr@";
  size_t at = authority.find('@');
  if (at != std::string_view::npos) {
    std::string_view credentials = authority.substr(0, at);
    authority = authority.substr(at + 1);
    size_t colon = credentials.find(':');
    user = credentials.substr(0, colon);
    if (colon != std::string_view::npos) password = credentials.substr(colon + 1);
  }
  if (!CopyField(user, szUser, kCredentialCapacity) ||
      !CopyField(password, szPassword, kCredentialCapacity) ||
      !SplitHostPort(authority, 21, szHost, pPort)) {
    return -1;
  }
  return 0;
}
