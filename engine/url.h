// Recognising and splitting the engine's URLs.
#pragma once

#include <cstdint>

inline constexpr int32_t kProtocolNone = 0;
inline constexpr int32_t kProtocolHttp = 1;
inline constexpr int32_t kProtocolFtp = 2;

// Capacities of the engine's text fields, terminating zero included.
inline constexpr int kUrlCapacity = 1024;         // URLs, hosts, server paths
inline constexpr int kCredentialCapacity = 260;   // FTP user and password
inline constexpr int kPathCapacity = 260;         // local paths

// 1 for "http://", 2 for "ftp://" (scheme letters in any case), else 0.
int32_t JudgeProtocol(const char* szUrl);

// Splits "http://host[:port]/path" into szHost and szRemotePath (kUrlCapacity
// bytes each) and *pPort (80 when absent). The first 7 characters are taken
// as the scheme unseen. False when no "/" follows the authority, when the URL
// has 1024 characters or more, or when the port is not a TCP port; the out
// fields are then unspecified.
bool SplitHttpUrl(const char* szUrl, char* szHost, int32_t* pPort, char* szRemotePath);

// Splits "ftp://[user[:password]@]host[:port]/path": user "anonymous" and
// password "WebUsr@" when absent, port 21. 0 on success; -1 when no "/"
// follows the authority, the URL has 1024 characters or more, a credential
// does not fit its kCredentialCapacity field, or the port is not a TCP port.
int32_t SplitUrl(const char* szUrl, char* szHost, int32_t* pPort, char* szRemotePath, char* szUser,
                 char* szPassword);
