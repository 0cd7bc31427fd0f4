#include "engine/ftp_transfer.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "engine/connection.h"
#include "engine/engine_log.h"
#include "engine/resume_log.h"
#include "engine/segment_writer.h"
#include "platform/clock.h"

namespace {

using platform::SocketHandle;

constexpr int kReplyBuffer = 1024;
constexpr int64_t kMaxFileSize = 0x7FFFFFFF;

// atoi: optional blanks and sign, then leading digits; saturates instead of
// overflowing.
int64_t ParseLeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool bNegative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) bNegative = text[i++] == '-';
  int64_t n = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    n = n > (INT64_MAX - 9) / 10 ? INT64_MAX : n * 10 + (text[i] - '0');
  }
  return bNegative ? -n : n;
}

bool CopyArgument(char (&szOut)[kFtpField], std::string_view text) {
  if (text.size() >= static_cast<size_t>(kFtpField)) return false;
  std::memcpy(szOut, text.data(), text.size());
  szOut[text.size()] = '\0';
  return true;
}

// How long a command waits for its reply.
constexpr uint32_t kReplyWait = 8000;

bool Command(SocketHandle s, const char* szCommand, std::string_view argument, FtpReply* pReply,
             const StopFlag* pStop = nullptr, uint32_t dwWait = kReplyWait) {
  FtpRequest request;
  request.s = s;
  request.pStop = pStop;
  request.dwWait = dwWait;
  std::strcpy(request.szCommand, szCommand);
  return CopyArgument(request.szArgument, argument) && FtpCommand(request, pReply);
}

std::string DottedAddress(uint32_t networkOrder) {
  const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
         std::to_string(b[3]);
}

}  // namespace

bool ParsePasvReply(const char* szText, FtpReply* pReply) {
  std::string_view text(szText);
  const size_t open = text.find('(');
  if (open != std::string_view::npos) text.remove_prefix(open + 1);
  const size_t close = text.find(')');
  text = close == std::string_view::npos ? std::string_view() : text.substr(0, close);
  if (text.size() < 10) return false;
  size_t comma = text.rfind(',');
  if (comma == std::string_view::npos) return false;
  const int64_t p2 = ParseLeadingNumber(text.substr(comma + 1));
  text = text.substr(0, comma);
  comma = text.rfind(',');
  if (comma == std::string_view::npos) return false;
  const int64_t p1 = ParseLeadingNumber(text.substr(comma + 1));
  text = text.substr(0, comma);
  if (p1 < 0 || p1 > 255 || p2 < 0 || p2 > 255) return false;
  const int32_t nPort = static_cast<int32_t>(p1 * 256 + p2);
  if (nPort < 1024) return false;
  std::string host(text);
  std::replace(host.begin(), host.end(), ',', '.');
  if (std::count(host.begin(), host.end(), '.') < 3 || host.size() >= sizeof pReply->szPasvHost) {
    return false;
  }
  std::strcpy(pReply->szPasvHost, host.c_str());
  pReply->nPasvPort = nPort;
  return true;
}

bool FtpCommand(const FtpRequest& request, FtpReply* pReply) {
  char buffer[kReplyBuffer + 1];
  if (request.szCommand[0] != '\0') {
    const int n = request.szArgument[0] != '\0'
                      ? std::snprintf(buffer, sizeof buffer, "%s %s\r\n", request.szCommand,
                                      request.szArgument)
                      : std::snprintf(buffer, sizeof buffer, "%s\r\n", request.szCommand);
    platform::Send(request.s, buffer, static_cast<size_t>(n));
  }
  if (request.pStop != nullptr &&
      WaitReadableUnlessRaised(request.s, request.dwWait, request.pStop, nullptr) <= 0) {
    return false;
  }
  const int64_t received = platform::Recv(request.s, buffer, kReplyBuffer, 0);
  if (received <= 0) return false;
  return ParseFtpReply(std::string_view(buffer, static_cast<size_t>(received)), request.szCommand,
                       pReply);
}

bool ParseFtpReply(std::string_view reply, const char* szCommand, FtpReply* pReply) {
  const size_t end = reply.find("\r\n");
  if (end == std::string_view::npos || end + 2 < 5) return false;
  const std::string_view text = reply.substr(4, end + 2 - 4);
  if (text.size() >= sizeof pReply->szText) return false;
  pReply->nCode = static_cast<int32_t>(ParseLeadingNumber(reply.substr(0, 3)));
  std::memset(pReply->szText, 0, sizeof pReply->szText);
  std::memcpy(pReply->szText, text.data(), text.size());
  const int32_t code = pReply->nCode;
  if (code >= 500) return false;
  const std::string_view command = szCommand;
  if (command.empty()) return true;
  if (command == "USER") return code == 230 || code == 331;
  if (command == "PASS") return code == 230;
  if (command == "TYPE") return code == 200;
  if (command == "PASV") return code == 227 && ParsePasvReply(pReply->szText, pReply);
  if (command == "SIZE") {
    if (code != 213) return false;
    pReply->llSize = ParseLeadingNumber(pReply->szText);
    return true;
  }
  if (command == "REST") return code == 350;
  // 125 is what a server says when the data connection is already open,
  // which ours always is by the time RETR is sent.
  if (command == "RETR") return code == 150 || code == 125;
  if (command == "ABOR") return code == 226 || code == 426;
  if (command == "QUIT") return code == 221;
  return false;
}

int64_t FtpGetSize(const char* szUrl, const StopFlag* pStop) {
  char szHost[kUrlCapacity], szPath[kUrlCapacity];
  char szUser[kCredentialCapacity], szPassword[kCredentialCapacity];
  int32_t nPort = 0;
  if (SplitUrl(szUrl, szHost, &nPort, szPath, szUser, szPassword) != 0) {
    DebugLog("SplitUrl error\n");
    return -1;
  }
  platform::CSocket s;
  if (ConnWithTime(&s, 100, 15, szHost, nPort, pStop, nullptr, NoteLog::kRunLog) != 0) {
    DebugLog("Ftp ConnWithTime error\n");
    return -1;
  }
  FtpReply reply;
  // The probe waits up to 100 s for each reply, but never past a stop.
  auto command = [&](const char* szCommand, const char* szArgument) {
    return Command(s.Get(), szCommand, szArgument, &reply, pStop, 100000);
  };
  bool ok = command("", "") && command("USER", szUser) && command("PASS", szPassword);
  // Many servers refuse SIZE in ASCII mode; whether TYPE is accepted or not,
  // SIZE decides.
  if (ok) command("TYPE", "I");
  ok = ok && command("SIZE", szPath);
  if (ok) Command(s.Get(), "QUIT", "", &reply);
  s.Close();
  // Sizes of 2 GiB and more are beyond what the connections can address.
  return ok && reply.llSize >= 0 && reply.llSize <= kMaxFileSize ? reply.llSize : -1;
}

int32_t FtpDownThread(DownThreadInfo* pInfo) {
  DownThreadInfo& info = *pInfo;
  if (SegmentCompleteAfterPause(info)) return 0;
  platform::CSocket control;
  if (ConnWithTime(&control, kConnectSeconds, kConnectAttempts, info.szHost, info.nPort, info.pStop,
                   info.pHold, NoteLog::kEngineLog) != 0) {
    DebugLog("conn fail");
    return -1;
  }
  platform::CSocket data;
  FtpReply reply;
  const char* szFailure = nullptr;
  char szRest[32];
  std::snprintf(szRest, sizeof szRest, "%" PRId64, info.llStart + info.llDone.load());
  if (!Command(control.Get(), "", "", &reply)) {
    szFailure = "ftp cmd fail";
  } else if (!Command(control.Get(), "USER", info.szUser, &reply)) {
    szFailure = "ftp user fail";
  } else if (!Command(control.Get(), "PASS", info.szPassword, &reply)) {
    szFailure = "ftp pass fail";
  } else if (!Command(control.Get(), "TYPE", "I", &reply)) {
    szFailure = "ftp type fail";
  } else if (!Command(control.Get(), "PASV", "", &reply)) {
    szFailure = "ftp pasv fail";
  } else if (ConnWithTime(&data, kConnectSeconds, kConnectAttempts,
                          DottedAddress(platform::PeerAddress(control.Get())).c_str(),
                          reply.nPasvPort, info.pStop, info.pHold, NoteLog::kEngineLog) != 0) {
    szFailure = "conn2 fail";
  } else if (!Command(control.Get(), "REST", szRest, &reply)) {
    szFailure = "ftp rest fail";
  } else if (!Command(control.Get(), "RETR", info.szRemotePath, &reply)) {
    szFailure = "ftp retr fail";
  }

  if (szFailure == nullptr) {
    std::unique_ptr<char[]> buffer(new char[kChunkSize]);
    const int32_t nChunk = std::clamp(info.nChunkSize, 1, kChunkSize);
    int64_t remaining = info.pStop->load() != 0 ? 0 : info.llLength - info.llDone.load();
    // Only the single-file driver speaks FTP: it tracks speeds.
    CSegmentWriter segment(info, true);
    while (info.pHold->load() == 0 && remaining > 0) {
      const auto chunk = static_cast<int32_t>(std::min<int64_t>(remaining, nChunk));
      const int32_t n = RecvN(data.Get(), buffer.get(), chunk, 0, 8, info.pStop, info.pHold,
                              info.pfnOnBytes, info.pProgress);
      segment.NoteSpeed();
      // A short receive still holds good bytes at their place: keep them,
      // then give up on this connection.
      if (n > 0) {
        if (!segment.Append(buffer.get(), n)) {
          DebugLog("ftp write fail");
          break;
        }
        remaining -= n;
      }
      if (n != chunk) {
        DebugLog("ftp RecvN fail");
        break;
      }
      if (info.pStop->load() != 0) break;
    }
    if (!Command(control.Get(), "ABOR", "", &reply)) {
      szFailure = "ftp abor fail";
    } else {
      Command(control.Get(), "", "", &reply);
      Command(control.Get(), "QUIT", "", &reply);
    }
  }
  if (szFailure != nullptr) DebugLog("%s", szFailure);
  if (info.llDone.load() == info.llLength) info.nState = 0;
  return info.nState.load();
}
