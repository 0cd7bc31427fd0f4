#include "engine/http_transfer.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "engine/down_engine.h"
#include "engine/engine_log.h"
#include "engine/ftp_transfer.h"
#include "engine/http_response.h"
#include "engine/resume_log.h"
#include "engine/segment_writer.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace {

using platform::SocketHandle;

constexpr int kHeaderBuffer = 2048;
constexpr int kRecvSeconds = 8;
constexpr uint32_t kSlotPeriod = 1000;
constexpr int64_t kWriteBackStep = 8 << 20;

// A note for the person who reads the run log: which file, and why.
void NoteProbeFailure(const std::string& url, const std::string& why) {
  AppendRunLog(platform::Utf8ToUtf16("size of " + url + " unknown: " + why));
}

// The size of the whole file an answer carries: a 200's Content-Length, or
// the total after the "/" of a 206's Content-Range; -1 when it does not say.
int64_t ServedFileSize(int status, std::string_view header) {
  std::string_view value;
  if (status == 200 && HttpHeaderValue(header, "Content-Length: ", &value)) {
    return ParseContentLength(value);
  }
  if (status == 206 && HttpHeaderValue(header, "Content-Range: bytes ", &value)) {
    const size_t slash = value.find('/');
    if (slash == std::string_view::npos || value.substr(slash + 1) == "*") return -1;
    return ParseContentLength(value.substr(slash + 1));
  }
  return -1;
}

// What tells the two drivers' connections apart.
struct HttpProcedure {
  NoteLog log;              // where connect attempts are noted
  bool bHonoursHold;        // the driver may take the connection back (hold flag)
  bool bTracksSpeed;        // the driver picks slow connections by their speed
  bool bKeepsSizeSlot;      // the size header of the list download is kept
  bool bLogsHeaderBytes;    // body bytes that came with the header are logged at once
  int nFirstRead;           // bytes of the first read of the answer
  const char* szHeadFail;   // the engine-log line for an answer without a header end
};

// The single-file driver's connections: one per mirror, moved between
// servers by the driver.
constexpr HttpProcedure kSingleFile{NoteLog::kEngineLog, true, true, false, false, 512, "http head fail1"};
// The list driver's connections: two per large file, with a size header.
constexpr HttpProcedure kFileList{NoteLog::kRunLog, false, false, true, true, 1024, "http head fail2"};

struct Connection {
  DownThreadInfo& info;
  const HttpProcedure& proc;
  platform::CStream s;
  char* buffer;  // kChunkSize bytes; the header is read into its start

  const StopFlag* Hold() const { return proc.bHonoursHold ? info.pHold : nullptr; }

  int32_t Connect() {
    ConnFailure why = ConnFailure::kNone;
    platform::CSocket socket;
    const int32_t r = ConnWithTime(&socket, kConnectSeconds, kConnectAttempts, info.szHost, info.nPort,
                                   info.pStop, Hold(), proc.log, &why);
    if (r != 0 && why == ConnFailure::kRefused) SetConnEnd(info, ConnEnd::kGoneAway, "connection refused");
    if (r != 0) return r;
    s = platform::CStream(std::move(socket));
    std::string refusal;
    if (info.nProtocol == kProtocolHttps && !StartTlsUnlessRaised(&s, info.szHost, kConnectSeconds, info.pStop, &refusal)) {
      // A certificate or server refused now is refused at every attempt.
      if (!refusal.empty()) {
        SetConnEnd(info, ConnEnd::kHopeless, refusal);
        if (proc.log == NoteLog::kRunLog) AppendRunLog(platform::Utf8ToUtf16(refusal));
        DebugLog("%s\n", refusal.c_str());
      }
      return -1;
    }
    return 0;
  }

  // A receive that got nothing: a whole wait of silence, or a connection
  // the server closed or reset.
  void EndWithNothing(uint32_t dwWaitStart) {
    if (Held()) return;
    if (platform::GetTickCount() - dwWaitStart + 250 >= kRecvSeconds * 1000u) {
      SetConnEnd(info, ConnEnd::kSilent, "no byte within " + std::to_string(kRecvSeconds) + " s");
    } else {
      SetConnEnd(info, ConnEnd::kGoneAway, "the connection was closed or reset");
    }
  }

  bool Hopeless(const std::string& reason, const char* szMessage) {
    SetConnEnd(info, ConnEnd::kHopeless, reason);
    return Fail(szMessage);
  }

  int32_t Receive(char* p, int32_t n, OnBytesFn pfn) {
    return RecvN(s, p, n, kRecvSeconds, info.pStop, Hold(), pfn, info.pProgress);
  }

  bool Held() const { return info.pStop->load() != 0 || (Hold() != nullptr && Hold()->load() != 0); }

  void SendRequest() {
    const int64_t llFirst = info.llStart + info.llDone.load();
    SendGetRequest(s, info.szHost, info.szRemotePath, llFirst,
                   info.llStart + info.llLength - llFirst);
  }

  void Close() { s.Close(); }

  bool Fail(const char* szMessage) {
    Close();
    DebugLog("%s", szMessage);
    return false;
  }

  // Reads bytes of a 200 answer that lie before the segment's start and
  // drops them: such a server ignored the range and sends the whole file.
  bool SkipTo(int64_t llSkip) {
    while (llSkip > 0 && !Held()) {
      int32_t n = Receive(buffer, static_cast<int32_t>(std::min<int64_t>(llSkip, kChunkSize)),
                          nullptr);
      if (n <= 0) return false;
      llSkip -= n;
    }
    return llSkip == 0;
  }

  // Reads and checks the response header, follows one permanent redirect
  // and writes the body bytes that came with the header. False after a
  // failure that has been logged, with the socket closed.
  bool ReadHeader(bool* pConnectFailed);
  void BodyLoop();
};

bool Connection::ReadHeader(bool* pConnectFailed) {
  const int nFirstRead = proc.nFirstRead;
  int nRedirects = 0;
  for (;;) {
    const uint32_t dwWaitStart = platform::GetTickCount();
    int64_t received = s.Recv(buffer, static_cast<size_t>(nFirstRead));
    if (received <= 0) {
      EndWithNothing(dwWaitStart);
      return Fail("http ack fail");
    }
    std::string_view response(buffer, static_cast<size_t>(received));
    if (response.find("HTTP/") == std::string_view::npos) {
      return Hopeless("a malformed status line", "http ack fail");
    }
    const int status = HttpStatus(response);
    if (status == 301) {
      DebugLog("Jmp\n");
      std::string_view location;
      char szHost[kUrlCapacity], szPath[kUrlCapacity];
      int32_t nPort = 0;
      // Only an absolute http or https location can be followed, only once,
      // and never from https to http.
      if (nRedirects > 0 || !HttpHeaderValue(response, "Location: ", &location) ||
          location.size() >= static_cast<size_t>(kUrlCapacity)) {
        return Hopeless("a redirect that cannot be followed", "http ack fail");
      }
      const std::string url(location);
      const int32_t nTo = JudgeProtocol(url.c_str());
      if (info.nProtocol == kProtocolHttps && nTo == kProtocolHttp) {
        return Hopeless("a redirect from https to http (" + url.substr(0, 200) + ")", "http ack fail");
      }
      if (!IsHttpProtocol(nTo) || !SplitHttpUrl(url.c_str(), szHost, &nPort, szPath)) {
        return Hopeless("a redirect that cannot be followed", "http ack fail");
      }
      SetRecordServer(info, szHost, nPort, szPath, info.szUser, info.szPassword);
      info.nProtocol = nTo;
      Close();
      if (Connect() != 0) {
        *pConnectFailed = true;
        return false;
      }
      ++nRedirects;
      SendRequest();
      continue;
    }
    if (status < 200 || status > 299) {
      return Hopeless("the answer \"" + HeaderForLog(StatusLine(response)) + "\"", "http ack fail");
    }

    size_t end = response.find("\r\n\r\n");
    if (end == std::string_view::npos) {
      int64_t more = s.Recv(buffer + received, 1024);
      if (more > 0) received += more;
      response = std::string_view(buffer, static_cast<size_t>(received));
      end = response.find("\r\n\r\n");
      if (end == std::string_view::npos) {
        return Hopeless("a header longer than " + std::to_string(nFirstRead + 1024) + " bytes",
                        proc.szHeadFail);
      }
    }
    const std::string_view header = response.substr(0, end + 4);
    const int64_t llFirst = info.llStart + info.llDone.load();
    // A 206 must be the range we asked for; a 200 carries the file from byte 0.
    std::string_view range;
    if (status == 206 && HttpHeaderValue(header, "Content-Range: bytes ", &range) &&
        std::strtoll(std::string(range).c_str(), nullptr, 10) != llFirst) {
      return Hopeless("a range other than the one asked for", "http ack fail");
    }
    // The file the probe measured must be the one that comes: a server
    // whose file changed size since cannot complete this download.
    const int64_t llServed = ServedFileSize(status, header);
    if (info.llFileSize > 0 && llServed >= 0 && llServed != info.llFileSize) {
      return Hopeless("a file of " + std::to_string(llServed) + " bytes where the size probe said " +
                          std::to_string(info.llFileSize),
                      "http ack fail");
    }
    int64_t llSkip = status == 200 ? llFirst : 0;

    int64_t count = received - static_cast<int64_t>(end + 4);
    const char* pBody = buffer + end + 4;
    const int64_t llDropped = std::min(count, llSkip);
    pBody += llDropped;
    count -= llDropped;
    llSkip -= llDropped;
    if (llSkip > 0 && !SkipTo(llSkip)) return Fail("http RecvN fail");
    count = std::min(count, info.llLength - info.llDone.load());
    if (count > 0) {
      DebugLog("head has data");
      CSegmentWriter segment(info, false);
      const bool bWritten = proc.bLogsHeaderBytes ? segment.Append(pBody, count) : segment.Place(pBody, count);
      if (!bWritten) return Fail("http write fail");
    }
    return true;
  }
}

void Connection::BodyLoop() {
  int64_t remaining = info.llLength - info.llDone.load();
  if (info.pStop->load() != 0) remaining = 0;
  CSegmentWriter segment(info, proc.bTracksSpeed);
  const int32_t nChunk = std::clamp(info.nChunkSize, 1, kChunkSize);
  const bool bSizeSlot = proc.bKeepsSizeSlot && info.bReadSizeSlot;
  uint32_t dwSlotTick = platform::GetTickCount();
  int64_t llSlotDone = info.llDone.load();
  // The bytes go to the disk as they come, so the flush before each slot
  // record (and the last, at the end) waits for little.
  int64_t llWrittenBack = info.llDone.load();
  auto RecordSlot = [&] {
    platform::FlushFile(info.hFile);
    llSlotDone = info.llDone.load();
    SetDownloadSize(info.hSizeFile, static_cast<uint32_t>(info.nSizeSlot + 1), llSlotDone);
  };
  while (remaining > 0 && !(Hold() != nullptr && Hold()->load() != 0)) {
    const auto chunk = static_cast<int32_t>(std::min<int64_t>(remaining, nChunk));
    const uint32_t dwWaitStart = platform::GetTickCount();
    const int32_t n = Receive(buffer, chunk, info.pfnOnBytes);
    if (n <= 0) {
      EndWithNothing(dwWaitStart);
      DebugLog("http RecvN fail");
      break;
    }
    segment.NoteSpeed();
    if (!segment.Append(buffer, n)) {
      DebugLog("http write fail");
      break;
    }
    remaining -= n;
    if (bSizeSlot && info.llDone.load() - llWrittenBack >= kWriteBackStep) {
      platform::StartWriteBack(info.hFile, info.llStart + llWrittenBack,
                               info.llDone.load() - llWrittenBack);
      llWrittenBack = info.llDone.load();
    }
    // The size slot may only claim bytes already on the disk, so each update
    // costs a flush: it is brought up to date about once a second and at
    // the end, not after every chunk. A crash loses at most a second of
    // bytes, which the next run fetches again.
    if (bSizeSlot && (remaining == 0 || platform::GetTickCount() - dwSlotTick >= kSlotPeriod)) {
      RecordSlot();
      dwSlotTick = platform::GetTickCount();
    }
    if (info.pStop->load() != 0) break;
  }
  if (bSizeSlot && info.llDone.load() != llSlotDone) RecordSlot();
  Close();
  if (info.llDone.load() == info.llLength) info.nState = 0;
}

std::unique_ptr<char[]> NewReceiveBuffer() {
  // One chunk; the header (two reads of at most 1024 bytes) fits its start.
  static_assert(kChunkSize >= kHeaderBuffer);
  return std::unique_ptr<char[]>(new char[kChunkSize]);
}

}  // namespace

int32_t SendGetRequest(platform::CStream& s, const char* szHost, const char* szPath, int64_t llOffset,
                       int64_t llLength) {
  char szRange[96] = "";
  if (llLength != 0) {
    std::snprintf(szRange, sizeof szRange, "Range: bytes=%" PRId64 "-%" PRId64 "\r\n", llOffset,
                  llOffset + llLength - 1);
  }
  char szRequest[10240];
  int n = std::snprintf(szRequest, sizeof szRequest,
                        "GET %s HTTP/1.1\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n%sUser-Agent: "
                        "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; Mozilla/4.0\r\nHost: "
                        "%s\r\nConnection: Keep-Alive\r\n\r\n",
                        szPath, szRange, szHost);
  if (n > 0 && n < static_cast<int>(sizeof szRequest)) s.SendAll(szRequest, static_cast<size_t>(n));
  return 0;
}

int64_t HttpGetSize(const char* szUrl, const StopFlag* pStop) {
  std::string url = szUrl == nullptr ? "" : szUrl;
  for (int nRedirects = 0; nRedirects <= kMaxSizeRedirects; ++nRedirects) {
    char szHost[kUrlCapacity], szPath[kUrlCapacity];
    int32_t nPort = 0;
    bool bTls = false;
    if (!SplitHttpUrl(url.c_str(), szHost, &nPort, szPath, &bTls)) return -1;
    platform::CSocket socket;
    ConnFailure why = ConnFailure::kNone;
    if (ConnWithTime(&socket, kConnectSeconds, kConnectAttempts, szHost, nPort, pStop, nullptr,
                     NoteLog::kRunLog, &why) != 0) {
      AppendRunLog(u"ConnWithTime error");
      if (why != ConnFailure::kStopped) NoteProbeFailure(url, DescribeConnFailure(why));
      return -1;
    }
    platform::CStream s(std::move(socket));
    std::string refusal;
    if (bTls && !StartTlsUnlessRaised(&s, szHost, kConnectSeconds, pStop, &refusal)) {
      if (!refusal.empty()) NoteProbeFailure(url, refusal);
      return -1;
    }
    SendGetRequest(s, szHost, szPath, 0, 0);
    char buffer[512];
    // A stop must not wait out a silent server's whole time-out.
    const int64_t received =
        WaitReadableUnlessRaised(s, kRecvSeconds * 1000, pStop, nullptr) > 0
            ? s.Recv(buffer, sizeof buffer)
            : -1;
    s.Close();
    if (received <= 0) {
      NoteProbeFailure(url, "the server sent no answer");
      return -1;
    }
    const std::string_view response(buffer, static_cast<size_t>(received));
    AppendRunLog(platform::Utf8ToUtf16(HeaderForLog(response)));
    if (response.find("HTTP/") == std::string_view::npos) return -1;
    const int status = HttpStatus(response);
    std::string_view value;
    if (status == 301) {
      if (!HttpHeaderValue(response, "Location: ", &value)) return -1;
      if (bTls && JudgeProtocol(std::string(value).c_str()) == kProtocolHttp) {
        NoteProbeFailure(url, "a redirect from https to http is not followed");
        return -1;
      }
      url = std::string(value);
      continue;
    }
    if (status < 200 || status > 299) {
      NoteProbeFailure(url, "the server answered \"" + HeaderForLog(StatusLine(response)) + "\"");
      return -1;
    }
    if (!HttpHeaderValue(response, "Content-Length: ", &value)) {
      NoteProbeFailure(url, "the answer has no Content-Length");
      return -1;
    }
    const int64_t llSize = ParseContentLength(value);
    if (llSize < 0) NoteProbeFailure(url, "its Content-Length is not a size below 2 GiB");
    return llSize;
  }
  return -1;
}

int64_t GetUrlSize(const char* szText, const StopFlag* pStop) {
  if (!g_downEngine.bReady || szText == nullptr) return -1;
  int64_t llSum = 0;
  std::string_view text(szText);
  while (true) {
    const size_t end = text.find("\r\n");
    const std::string line(text.substr(0, end));
    switch (JudgeProtocol(line.c_str())) {
      case kProtocolHttp:
      case kProtocolHttps:
        llSum += HttpGetSize(line.c_str(), pStop);
        break;
      case kProtocolFtp:
        llSum += FtpGetSize(line.c_str(), pStop);
        break;
      default:
        DebugLog("JudgeProtocol null\n");
        break;
    }
    if (end == std::string_view::npos || end + 2 >= text.size()) break;
    text.remove_prefix(end + 2);
  }
  return llSum;
}

int32_t HttpDownThreadN1(DownThreadInfo* pInfo) {
  DownThreadInfo& info = *pInfo;
  if (SegmentCompleteAfterPause(info)) return 0;
  SetConnEnd(info, ConnEnd::kUnknown, "");
  auto buffer = NewReceiveBuffer();
  Connection c{info, kSingleFile, platform::CStream(), buffer.get()};
  if (c.Connect() != 0) {
    DebugLog("conn fail");
    return -1;
  }
  c.SendRequest();
  bool bConnectFailed = false;
  if (!c.ReadHeader(&bConnectFailed)) return -1;
  c.BodyLoop();
  return info.nState.load();
}

int32_t HttpDownThreadNN(DownThreadInfo* pInfo) {
  DownThreadInfo& info = *pInfo;
  DebugLog("%d, %d, %d, %d, %d", info.nFileTag, info.nSerial, static_cast<int32_t>(info.llStart),
           static_cast<int32_t>(info.llLength), static_cast<int32_t>(info.llDone.load()));
  if (info.bReadSizeSlot) {
    int64_t llDone = 0;
    if (!GetDownloadSize(info.hSizeFile, static_cast<uint32_t>(info.nSizeSlot + 1), &llDone) ||
        llDone < 0 || llDone > info.llLength) {
      // A damaged slot restarts the segment rather than aim a write outside it.
      llDone = 0;
    }
    // Count only what the task has not counted yet: a restarted connection
    // finds its earlier bytes already in the progress.
    const int64_t llCounted = std::max<int64_t>(info.llDone.load(), 0);
    info.llDone = llDone;
    info.pfnOnBytes(static_cast<int32_t>(llDone - llCounted), info.pProgress);
  }
  if (info.llDone.load() >= info.llLength) {
    info.nState = 0;
    return 1;
  }
  platform::Sleep(500);
  SetConnEnd(info, ConnEnd::kUnknown, "");
  auto buffer = NewReceiveBuffer();
  Connection c{info, kFileList, platform::CStream(), buffer.get()};
  if (c.Connect() != 0) {
    DebugLog("conn fail");
    return -1;
  }
  c.SendRequest();
  bool bConnectFailed = false;
  if (c.ReadHeader(&bConnectFailed)) {
    c.BodyLoop();
  } else if (bConnectFailed) {
    return -1;
  }
  DebugLog("tid: %d, id: %d, exit: %d, %d, %d", info.nFileTag, info.nSerial, info.nState.load(),
           static_cast<int32_t>(info.llDone.load()), static_cast<int32_t>(info.llLength));
  return info.nState.load();
}
