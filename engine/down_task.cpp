#include "engine/down_task.h"

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

CDownBase::CDownBase()
    : hDoneEvent(std::make_shared<platform::CEvent>(true, false)), pLive(&progress) {}

CDownBase::~CDownBase() = default;

DownFileItem::DownFileItem() : nFileSerial(NextFileSerial()) {}

DownThreadInfo::DownThreadInfo() : nSerial(NextThreadSerial()) {}
