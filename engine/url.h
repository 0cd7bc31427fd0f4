// Recognising and splitting the engine's URLs.
#pragma once

#include <cstdint>

inline constexpr int32_t kProtocolNone = 0;
inline constexpr int32_t kProtocolHttp = 1;
inline constexpr int32_t kProtocolFtp = 2;
inline constexpr int32_t kProtocolHttps = 3;  // HTTP over TLS

// http or https: the same transfer, over TLS or not.
inline bool IsHttpProtocol(int32_t nProtocol) { return nProtocol == kProtocolHttp || nProtocol == kProtocolHttps; }

// Capacities of the engine's text fields, terminating zero included.
inline constexpr int kUrlCapacity = 1024;         // URLs, hosts, server paths
inline constexpr int kCredentialCapacity = 260;   // FTP user and password
inline constexpr int kPathCapacity = 260;         // local paths

// 1 for "http://", 2 for "ftp://", 3 for "https://" (scheme letters in any
// case), else 0.
int32_t JudgeProtocol(const char* szUrl);

// Splits "http://host[:port]/path" or "https://host[:port]/path" into szHost
// and szRemotePath (kUrlCapacity bytes each) and *pPort (80 or 443 when
// absent); *pTls (may be null) tells which. Any other scheme is taken for
// http's 7 characters unseen. False when no "/" follows the authority, when
// the URL has 1024 characters or more, or when the port is not a TCP port;
// the out fields are then unspecified.
bool SplitHttpUrl(const char* szUrl, char* szHost, int32_t* pPort, char* szRemotePath, bool* pTls = nullptr);

// Splits "ftp://[user[:password]@]host[:port]/path": user "anonymous" and
// password "WebUsr@" when absent, port 21. 0 on success; -1 when no "/"
// follows the authority, the URL has 1024 characters or more, a credential
// does not fit its kCredentialCapacity field, or the port is not a TCP port.
int32_t SplitUrl(const char* szUrl, char* szHost, int32_t* pPort, char* szRemotePath, char* szUser,
                 char* szPassword);
