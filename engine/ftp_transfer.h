// The FTP side of a download connection (passive mode, resumed with REST) and
// the FTP size probe.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/down_task.h"

inline constexpr int kFtpField = 260;

struct FtpRequest {
  platform::SocketHandle s = platform::kInvalidSocket;
  char szCommand[kFtpField] = "";   // empty: only read the next reply
  char szArgument[kFtpField] = "";  // empty: none
  const StopFlag* pStop = nullptr;  // when set, a stop ends the wait for the reply
  uint32_t dwWait = 8000;           // the reply's time-out
};

struct FtpReply {
  int32_t nCode = 0;
  char szText[kFtpField] = "";  // the first line after the code, with its "\r\n"
  char szPasvHost[16] = "";     // from the last PASV reply
  int32_t nPasvPort = 0;
  int64_t llSize = -1;  // from the last SIZE reply
};

// Sends one command (none when szCommand is empty) and reads one reply; true
// when the reply's code is one the command accepts. A reply whose first
// line does not fit its field fails.
bool FtpCommand(const FtpRequest& request, FtpReply* pReply);

// Reads one received reply ("ddd text\r\n...") into *pReply; true when its
// code is one the command (szCommand, "" for a greeting) accepts.
bool ParseFtpReply(std::string_view reply, const char* szCommand, FtpReply* pReply);

// Parses the "(h1,h2,h3,h4,p1,p2)" of a PASV reply text.
bool ParsePasvReply(const char* szText, FtpReply* pReply);

// SIZE of the file an ftp:// URL names, after logging in; -1 on any failure.
int64_t FtpGetSize(const char* szUrl, const StopFlag* pStop);

// The connection thread procedure for nProtocol 2. The data connection always
// goes to the control connection's server: the address in a PASV reply is
// ignored, so a hostile server cannot aim our connection elsewhere.
int32_t FtpDownThread(DownThreadInfo* pInfo);
