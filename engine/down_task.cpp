#include "engine/down_task.h"

#include <atomic>

#include "platform/clock.h"

#include <cstring>

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

namespace {
std::atomic<uint32_t> g_dwNoProgressLimit{kNoProgressLimit};
}

CStallWatch::CStallWatch() : dwSince_(platform::GetTickCount()) {}

bool CStallWatch::Stalled(int64_t llDone) {
  const uint32_t dwNow = platform::GetTickCount();
  if (llDone > llBest_) {
    llBest_ = llDone;
    dwSince_ = dwNow;
    return false;
  }
  return dwNow - dwSince_ >= g_dwNoProgressLimit.load();
}

uint32_t NoProgressLimit() { return g_dwNoProgressLimit.load(); }

void SetNoProgressLimitForTesting(uint32_t dwMilliseconds) {
  g_dwNoProgressLimit = dwMilliseconds != 0 ? dwMilliseconds : kNoProgressLimit;
}

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
  p->hFile = item.hFile;
  p->hSizeFile = item.hSizeFile;
  p->nChunkSize = task.nChunkSize;
  p->pfnOnBytes = AddDownloaded;
  return p;
}

CDownBase::CDownBase()
    : hDoneEvent(std::make_shared<platform::CEvent>(true, false)), pLive(&progress) {}

CDownBase::~CDownBase() = default;

DownFileItem::DownFileItem() : nFileSerial(NextFileSerial()) {}

DownThreadInfo::DownThreadInfo() : nSerial(NextThreadSerial()) {}
