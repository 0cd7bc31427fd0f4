#include "engine/down_task.h"

#include <atomic>
#include <cstring>

#include "engine/connection.h"
#include "platform/clock.h"
#include "platform/env.h"

void CopyProgressFields(DownProgress& to, const DownProgress& from) {
  to.bActive = from.bActive;
  to.nPercent = from.nPercent;
  to.dSpeed = from.dSpeed;
  to.llDownloaded = from.llDownloaded;
  to.llTotal = from.llTotal;
  to.wHours = from.wHours;
  to.wMinutes = from.wMinutes;
  to.wSeconds = from.wSeconds;
  to.nId = from.nId;
}

int32_t AddDownloaded(int32_t nBytes, DownProgress* pProgress) {
  std::lock_guard<std::mutex> guard(pProgress->lock);
  pProgress->llDownloaded += nBytes;
  return nBytes;
}

namespace {
std::atomic<int32_t> g_nFileSerial{0};
std::atomic<int32_t> g_nThreadSerial{0};
}  // namespace

int32_t NextFileSerial() { return ++g_nFileSerial; }
int32_t NextThreadSerial() { return ++g_nThreadSerial; }

int32_t WaitDoneThread(const std::shared_ptr<platform::CEvent>& pDone) {
  pDone->Wait();
  return 0;
}

CStallWatch::CStallWatch() : dwSince_(platform::GetTickCount()), dwNoProgressLimit_(NoProgressLimit()) {}

void CStallWatch::Progressed(int64_t llDone, uint32_t dwNow) {
  llBest_ = llDone;
  dwSince_ = dwNow;
  bAllGoneAway_ = true;
  nSilent_ = 0;
  nHopeless_ = 0;
  hopeless_.clear();
}

bool CStallWatch::GiveUp(int64_t llDone, ConnEnd end, const std::string& reason,
                         std::string* pCause) {
  const uint32_t dwNow = platform::GetTickCount();
  if (llDone > llBest_) Progressed(llDone, dwNow);
  if (end != ConnEnd::kGoneAway) bAllGoneAway_ = false;
  if (end == ConnEnd::kSilent) ++nSilent_;
  if (end == ConnEnd::kHopeless) {
    // Only the same answer again and again is known to be for ever.
    if (reason != hopeless_) {
      hopeless_ = reason;
      nHopeless_ = 0;
    }
    ++nHopeless_;
  }
  const uint32_t dwQuiet = dwNow - dwSince_;
  if (end == ConnEnd::kGoneAway && bAllGoneAway_ && dwQuiet >= kGoneAwayLimit) {
    *pCause = "the server has gone away: every connection refused, closed or reset for " +
              std::to_string(dwQuiet / 1000) + " s (" + reason + ")";
    return true;
  }
  if (nHopeless_ >= kHopelessLimit) {
    *pCause = "the server's answer cannot succeed, " + std::to_string(nHopeless_) +
              " times: " + hopeless_;
    return true;
  }
  if (nSilent_ >= kSilentLimit) {
    *pCause = "the server accepts connections but says nothing: " + std::to_string(nSilent_) +
              " waits without a byte";
    return true;
  }
  if (dwQuiet >= dwNoProgressLimit_) {
    *pCause = "no progress for " + std::to_string(dwNoProgressLimit_ / 1000) +
              " s of restarts";
    return true;
  }
  return false;
}

void SetConnEnd(DownThreadInfo& info, ConnEnd end, const std::string& reason) {
  std::lock_guard<std::mutex> lock(info.lock);
  info.end = end;
  info.endReason = reason;
}

bool GiveUpAfter(CStallWatch& watch, int64_t llDone, DownThreadInfo& info, std::string* pCause) {
  ConnEnd end;
  std::string reason;
  {
    std::lock_guard<std::mutex> lock(info.lock);
    end = info.end;
    reason = info.endReason;
  }
  return watch.GiveUp(llDone, end, reason, pCause);
}

uint32_t NoProgressLimit() { return platform::CurrentEnv().TimeLimit(kNoProgressLimitName, kNoProgressLimit); }

std::unique_ptr<DownThreadInfo> MakeRecord(CDownBase& task, const DownFileItem& item,
                                           int32_t nProtocol) {
  auto p = std::make_unique<DownThreadInfo>();
  p->nProtocol = nProtocol;
  p->pStop = &task.nQuit;
  p->nFileTag = item.nFileSerial;
  p->llDone = 0;
  std::memcpy(p->szHost, item.szHost, sizeof p->szHost);
  std::memcpy(p->szRemotePath, item.szRemotePath, sizeof p->szRemotePath);
  std::memcpy(p->szUser, item.szUser, sizeof p->szUser);
  std::memcpy(p->szPassword, item.szPassword, sizeof p->szPassword);
  p->nPort = item.nPort;
  p->pProgress = task.pLive;
  p->hFile = item.hFile.Get();
  p->hSizeFile = item.hSizeFile.Get();
  p->nChunkSize = task.nChunkSize;
  p->pfnOnBytes = AddDownloaded;
  p->llFileSize = item.llSize;
  return p;
}

CDownBase::CDownBase()
    : hDoneEvent(std::make_shared<platform::CEvent>(true, false)), pLive(&progress) {}

CDownBase::~CDownBase() = default;

DownFileItem::DownFileItem() : nFileSerial(NextFileSerial()) {}

DownThreadInfo::DownThreadInfo() : nSerial(NextThreadSerial()) {}

bool SegmentCompleteAfterPause(DownThreadInfo& info) {
  if (info.nRetryDelay != 0) {
    SleepUnlessRaised(static_cast<uint32_t>(info.nRetryDelay), info.pStop, info.pHold);
  }
  if (info.llDone.load() < info.llLength) return false;
  info.nState = 0;
  return true;
}
