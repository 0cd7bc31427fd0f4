#include "engine/connection.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "engine/engine_log.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace {

using platform::SocketHandle;

// Each receive takes what has arrived, up to this much: a step of a few
// hundred bytes cost a system call and a progress callback per step, about
// four million per GiB. Stop and hold flags are still seen within 100 ms,
// since a wait for data looks at them that often and a receive that finds
// data never blocks.
constexpr int32_t kRecvStep = 256 * 1024;
constexpr uint32_t kRefusedPause = 500;

bool Raised(const StopFlag* pStop, const StopFlag* pHold) {
  return pStop->load() != 0 || (pHold != nullptr && pHold->load() != 0);
}

void RunLogText(const std::string& text) { AppendRunLog(platform::Utf8ToUtf16(text)); }

// Sleeps until the attempt's time is used up, looking at the flags often.
void WaitOutAttempt(uint32_t dwStart, uint32_t dwBudget, const StopFlag* pStop,
                    const StopFlag* pHold) {
  for (;;) {
    uint32_t dwSpent = platform::GetTickCount() - dwStart;
    if (dwSpent >= dwBudget || Raised(pStop, pHold)) return;
    platform::Sleep(std::min<uint32_t>(dwBudget - dwSpent, 50));
  }
}

}  // namespace

int32_t ConnWithTime(platform::CSocket* pSocket, int32_t nSeconds, int32_t nAttempts,
                     const char* szHost, int32_t nPort, const StopFlag* pStop,
                     const StopFlag* pHold, NoteLog log, ConnFailure* pWhy) {
  ConnFailure why = ConnFailure::kNone;
  if (pWhy == nullptr) pWhy = &why;
  *pWhy = ConnFailure::kSocket;
  if (szHost == nullptr || szHost[0] == '\0' || pStop == nullptr || nPort < 0 || nPort > 65535) {
    return -1;
  }
  // The engine log's connections fail quietly: their driver notes what it
  // does about it.
  const bool bRunLog = log == NoteLog::kRunLog;
  uint32_t address = 0;
  if (!platform::ResolveIPv4(szHost, &address)) {
    *pWhy = ConnFailure::kUnresolved;
    if (bRunLog) AppendRunLog(u"package gethostbyname fail");
    return -1;
  }
  const uint32_t dwBudget = static_cast<uint32_t>(std::max(nSeconds, 0)) * 1000u;
  platform::CSocket s;  // closed on every way out but success
  for (int32_t i = 0; i < nAttempts && !Raised(pStop, pHold); ++i) {
    s = platform::CSocket(platform::OpenStreamSocket());
    if (!s.IsValid() || !platform::SetSocketTimeouts(s.Get(), dwBudget) ||
        !platform::SetNonBlocking(s.Get(), true)) {
      if (bRunLog) AppendRunLog(u"socket error");
      return -1;
    }
    const uint32_t dwStart = platform::GetTickCount();
    platform::StartConnect(s.Get(), address, static_cast<uint16_t>(nPort));
    int r = platform::WaitConnected(s.Get(), dwBudget);
    if (r > 0) break;
    *pWhy = r < 0 ? ConnFailure::kRefused : ConnFailure::kNoAnswer;
    // A refused connect is known at once; a short pause still lets a
    // server that is restarting come back within the attempts, while the
    // player of a server that is down hears of it within seconds.
    if (r < 0) WaitOutAttempt(dwStart, std::min(dwBudget, kRefusedPause), pStop, pHold);
    s.Close();
    char szNote[64];
    std::snprintf(szNote, sizeof szNote, "超时：%d次\n", i);
    if (bRunLog) {
      RunLogText(szNote);
    } else {
      DebugLog("%s", szNote);
    }
    if (i + 1 == nAttempts) {
      DebugLog("超时退出!\n");
      return -1;
    }
  }
  if (Raised(pStop, pHold)) *pWhy = ConnFailure::kStopped;
  if (!s.IsValid() || Raised(pStop, pHold)) return -1;
  if (!platform::SetNonBlocking(s.Get(), false)) {
    *pWhy = ConnFailure::kSocket;
    return -1;
  }
  *pWhy = ConnFailure::kNone;
  *pSocket = std::move(s);
  return 0;
}

namespace {

// A bare socket as the receive loop sees a stream.
struct CBareSocket {
  SocketHandle s;
  int nFlags;
  int64_t RecvIfReady(void* p, size_t n) { return platform::RecvIfReady(s, p, n, nFlags); }
  int64_t Recv(void* p, size_t n) { return platform::Recv(s, p, n, nFlags); }
  int WaitReadable(uint32_t dwMilliseconds) { return platform::WaitReadable(s, dwMilliseconds); }
};

template <class Stream>
int WaitUnlessRaised(Stream& stream, uint32_t dwMilliseconds, const StopFlag* pStop, const StopFlag* pHold) {
  const uint32_t dwStart = platform::GetTickCount();
  for (;;) {
    const uint32_t dwSpent = platform::GetTickCount() - dwStart;
    if (dwSpent >= dwMilliseconds || (pStop != nullptr && Raised(pStop, pHold))) return 0;
    const int r = stream.WaitReadable(std::min<uint32_t>(dwMilliseconds - dwSpent, 100));
    if (r != 0) return r;
  }
}

template <class Stream>
int32_t ReceiveN(Stream& stream, char* pBuffer, int32_t nCount, int32_t nSeconds, const StopFlag* pStop,
                 const StopFlag* pHold, OnBytesFn pfnOnBytes, DownProgress* pProgress) {
  if (pBuffer == nullptr || pStop == nullptr) return 0;
  const uint32_t dwWait = static_cast<uint32_t>(std::max(nSeconds, 0)) * 1000u;
  int32_t received = 0;
  while (!Raised(pStop, pHold) && received < nCount) {
    const size_t step = static_cast<size_t>(std::min(nCount - received, kRecvStep));
    // Waiting is only needed when nothing has arrived yet; on a busy
    // connection this saves a system call for every step.
    int64_t n = stream.RecvIfReady(pBuffer + received, step);
    if (n == platform::kRecvWouldBlock) {
      // A stalled server must not hold a stop request for the whole wait.
      if (WaitUnlessRaised(stream, dwWait, pStop, pHold) <= 0) break;
      n = stream.Recv(pBuffer + received, step);
    }
    if (n <= 0) {
      DebugLog("Failed recv\n");
      break;
    }
    if (pfnOnBytes != nullptr) pfnOnBytes(static_cast<int32_t>(n), pProgress);
    received += static_cast<int32_t>(n);
  }
  return received;
}

}  // namespace

int32_t RecvN(SocketHandle s, char* pBuffer, int32_t nCount, int nFlags, int32_t nSeconds,
              const StopFlag* pStop, const StopFlag* pHold, OnBytesFn pfnOnBytes,
              DownProgress* pProgress) {
  CBareSocket bare{s, nFlags};
  return ReceiveN(bare, pBuffer, nCount, nSeconds, pStop, pHold, pfnOnBytes, pProgress);
}

int32_t RecvN(platform::CStream& stream, char* pBuffer, int32_t nCount, int32_t nSeconds, const StopFlag* pStop,
              const StopFlag* pHold, OnBytesFn pfnOnBytes, DownProgress* pProgress) {
  return ReceiveN(stream, pBuffer, nCount, nSeconds, pStop, pHold, pfnOnBytes, pProgress);
}

int WaitReadableUnlessRaised(SocketHandle s, uint32_t dwMilliseconds, const StopFlag* pStop,
                             const StopFlag* pHold) {
  CBareSocket bare{s, 0};
  return WaitUnlessRaised(bare, dwMilliseconds, pStop, pHold);
}

int WaitReadableUnlessRaised(platform::CStream& stream, uint32_t dwMilliseconds, const StopFlag* pStop,
                             const StopFlag* pHold) {
  return WaitUnlessRaised(stream, dwMilliseconds, pStop, pHold);
}

void SleepUnlessRaised(uint32_t dwMilliseconds, const StopFlag* pStop, const StopFlag* pHold) {
  WaitOutAttempt(platform::GetTickCount(), dwMilliseconds, pStop, pHold);
}

const char* DescribeConnFailure(ConnFailure why) {
  switch (why) {
    case ConnFailure::kNone:
      return "connected";
    case ConnFailure::kUnresolved:
      return "the host name does not resolve";
    case ConnFailure::kRefused:
      return "connection refused: nothing listens there, the server is down";
    case ConnFailure::kNoAnswer:
      return "no answer: the server or the network does not respond";
    case ConnFailure::kSocket:
      return "no socket could be made";
    case ConnFailure::kStopped:
      return "stopped";
  }
  return "unknown";
}

bool StartTlsUnlessRaised(platform::CStream* pStream, const char* szHost, int32_t nSeconds, const StopFlag* pStop,
                          std::string* pWhy) {
  platform::TlsRefusal refusal;
  if (pStream->StartTls(szHost, static_cast<uint32_t>(std::max(nSeconds, 1)) * 1000u, pStop, &refusal)) return true;
  *pWhy = refusal.failure == platform::TlsFailure::kStopped ? "" : "TLS with " + std::string(szHost) + ": " + refusal.text;
  return false;
}
