#include "engine/down_n1.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/down_driver.h"
#include "engine/down_engine.h"
#include "engine/engine_log.h"
#include "engine/ftp_transfer.h"
#include "engine/http_transfer.h"
#include "engine/notify_timer.h"
#include "engine/resume_log.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kHttpRetryDelay = 5000;
constexpr uint32_t kFtpRetryDelay = 10000;
constexpr uint32_t kRepointPause = 5000;
constexpr int64_t kNearlyDone = 20480;

bool IsUnsafeName(const std::string& name) { return name.empty() || name == "." || name == ".."; }

}  // namespace

int32_t PickSlowConnection(DownThreadInfo& finished, DownThreadInfo* const* ppRecords,
                           int32_t nCount) {
  if (nCount == 1) return -1;
  const uint32_t dwElapsed = platform::GetTickCount() - finished.dwStartTick;
  const double dSpeed = static_cast<double>(finished.llDone.load() - finished.llDoneAtStart) /
                        (dwElapsed == 0 ? 1 : dwElapsed);
  {
    std::lock_guard<std::mutex> lock(finished.lock);
    finished.dSpeed = dSpeed;
  }
  const double dThreshold = 0.6 * dSpeed;
  DebugLog("sp: %.2f", dThreshold);
  std::vector<int32_t> candidates;
  const uint32_t dwNow = platform::GetTickCount();
  for (int32_t j = 0; j < nCount; ++j) {
    DownThreadInfo& r = *ppRecords[j];
    std::lock_guard<std::mutex> lock(r.lock);
    // A connection's own figure dates from its last chunk; a server that
    // has gone quiet since then (or sends in bursts) must not look fast.
    double dNow = r.dSpeed;
    if (&r != &finished && r.llSpeedStartDone >= 0) {
      const uint32_t dwSpan = dwNow - r.dwSpeedStartTick;
      dNow = static_cast<double>(r.llDone.load() - r.llSpeedStartDone) / (dwSpan == 0 ? 1 : dwSpan);
    }
    DebugLog("sp id: %d, sp: %.2f", j, dNow);
    if (r.llDone.load() + kNearlyDone >= r.llLength) continue;
    if (dThreshold > dNow) candidates.push_back(j);
  }
  if (candidates.empty()) return -1;
  return candidates[static_cast<size_t>(std::rand()) % candidates.size()];
}

CDownN1::CDownN1() {
  nType |= kTaskN1;
  nConnPerGroup = 1;
}

CDownN1::~CDownN1() = default;

void CDownN1::AddMirror(DownFileItem& item, const std::string& line) {
  const int64_t llSize = GetUrlSize(line.c_str(), &nQuit);
  if (item.llSize == 0) {
    item.llSize = llSize;
    item.vecUrls.push_back(line);
  } else if (llSize == item.llSize) {
    item.vecUrls.push_back(line);
  } else {
    DebugLog("size equal fail: %s", line.c_str());
  }
}

int32_t CDownN1::Init(char* szUrl, char* szPath, platform::HWND hWndNotify, int32_t nId,
                      uint32_t uPeriod) {
  // progress.nId was set before the task was registered, where NN_Stop
  // reads it; writing it again here would race with that reader.
  (void)nId;
  if (!CheckCallArguments(*this, szUrl, szPath, NoteLog::kEngineLog)) return 0;
  std::string_view text(szUrl);
  const size_t lastSlash = text.rfind('/');
  if (lastSlash == std::string_view::npos) {
    DebugLog("input szUrl error\n");
    return 0;
  }
  DownFileItem item;
  std::string name(text.substr(lastSlash + 1));
  name = name.substr(0, name.find("\r\n"));
  if (name.size() >= static_cast<size_t>(kPathCapacity)) name.resize(kPathCapacity - 1);
  // A backslash would be a folder separator here: it never leaves the name
  // a way out of its folder.
  for (char& c : name) {
    if (c == '\\') c = '-';
  }
  if (IsUnsafeName(name)) {
    DebugLog("input szUrl error\n");
    return 0;
  }
  std::memcpy(item.szName, name.c_str(), name.size() + 1);
  std::memcpy(item.szDir, szPath, std::strlen(szPath) + 1);
  const UrlList list = SplitUrlList(text);
  if (!list.bList) {
    DebugLog("no find \\r\\n\n");
    return 0;
  }
  auto usable = [](std::string_view line) {
    return line.size() < static_cast<size_t>(kUrlCapacity) && line.find('/') != std::string_view::npos;
  };
  for (std::string_view line : list.lines) {
    if (!usable(line)) {
      DebugLog("input szUrl error\n");
      return 0;
    }
    AddMirror(item, std::string(line));
  }
  if (!list.rest.empty()) {
    if (!usable(list.rest)) {
      DebugLog("input szUrl error\n");
    } else {
      AddMirror(item, std::string(list.rest));
    }
  }
  if (nQuit.load() == 0) vecFiles.push_back(std::move(item));
  return Run(hWndNotify, uPeriod);
}

bool CDownN1::AdoptLog(const std::string& target, const DownFileItem& item, Records* pRecords) {
  if (!LoadLog(target.c_str(), pRecords)) return false;
  // The log must cut exactly this file into segments, and every byte it
  // says is written must be in the file.
  bool ok = LogCoversFile(*pRecords, item.llSize);
  const int64_t llHave = platform::GetFileSize(item.hFile.Get());
  for (auto& r : *pRecords) {
    if (r->llDone.load() > 0 && r->llStart + r->llDone.load() > llHave) ok = false;
  }
  if (!ok) {
    platform::CloseFile((*pRecords)[0]->hLog);
    pRecords->clear();
  }
  return ok;
}

void CDownN1::PlanSegments(const DownFileItem& item, Records* pRecords) {
  std::vector<std::unique_ptr<DownThreadInfo>> records;
  for (const std::string& url : item.vecUrls) {
    const int32_t nProtocol = JudgeProtocol(url.c_str());
    auto p = MakeRecord(*this, item, nProtocol);
    bool ok = false;
    if (IsHttpProtocol(nProtocol)) {
      ok = SplitHttpUrl(url.c_str(), p->szHost, &p->nPort, p->szRemotePath);
    } else if (nProtocol == kProtocolFtp) {
      ok = SplitUrl(url.c_str(), p->szHost, &p->nPort, p->szRemotePath, p->szUser,
                    p->szPassword) == 0;
    }
    if (!ok) {
      DebugLog("SplitUrl error: %s\n", url.c_str());
      continue;
    }
    records.push_back(std::move(p));
  }
  // Only mirrors that got a connection share the file, so no segment is
  // left without one.
  const auto n = static_cast<int32_t>(records.size());
  for (int32_t i = 0; i < n; ++i) {
    const Segment segment = EqualSegment(item.llSize, n, i);
    records[i]->llStart = segment.llStart;
    records[i]->llLength = segment.llLength;
  }
  *pRecords = std::move(records);
}

void CDownN1::StartPlaceholder(int32_t nSlot) {
  auto pDone = hDoneEvent;
  phThreads[nSlot].Start([pDone] { return WaitDoneThread(pDone); });
}

void CDownN1::StartConnection(int32_t nSlot, DownThreadInfo* pInfo, int32_t* pFinished,
                              bool bRetry) {
  if (IsHttpProtocol(pInfo->nProtocol)) {
    if (bRetry) pInfo->nRetryDelay = kHttpRetryDelay;
    phThreads[nSlot].Start([pInfo] { return HttpDownThreadN1(pInfo); });
  } else if (pInfo->nProtocol == kProtocolFtp) {
    if (bRetry) pInfo->nRetryDelay = kFtpRetryDelay;
    phThreads[nSlot].Start([pInfo] { return FtpDownThread(pInfo); });
  } else {
    StartPlaceholder(nSlot);
    ++*pFinished;
  }
}

void CDownN1::RunTransferLoop(Records& records, int32_t* pFinished) {
  std::vector<platform::CThreadSlot*> slots;
  std::vector<DownThreadInfo*> pointers;
  for (int32_t i = 0; i < nConnCount; ++i) {
    slots.push_back(&phThreads[i]);
    pointers.push_back(records[i].get());
  }
  int32_t restarts = 0;
  CStallWatch watch;
  while (*pFinished < nConnCount && nQuit.load() == 0) {
    platform::Sleep(100);
    platform::WaitForAnySlot(slots.data(), nConnCount, platform::kInfinite);
    for (int32_t i = 0; i < nConnCount && nQuit.load() == 0; ++i) {
      if (phThreads[i].IsRunning()) continue;
      DownThreadInfo& record = *records[i];
      record.nRetryDelay = 0;
      if (record.nState.load() != 0) {
        int64_t llDone = 0;
        for (const auto& r : records) llDone += r->llDone.load();
        std::string cause;
        if (GiveUpAfter(watch, llDone, record, &cause)) {
          DebugLog("giving up: %s\n", cause.c_str());
          AppendRunLog(platform::Utf8ToUtf16("download of " + std::string(record.szHost) +
                                             record.szRemotePath + " given up: " + cause));
          nQuit.fetch_add(1);
          break;
        }
        StartConnection(i, &record, pFinished, true);
        ++restarts;
        continue;
      }
      const int32_t re = PickSlowConnection(record, pointers.data(), nConnCount);
      DebugLog("re: %d", re);
      if (re != -1) {
        holds_[re].fetch_add(1);
        phThreads[re].Join();
        holds_[re].fetch_sub(1);
        DownThreadInfo& slow = *records[re];
        SetRecordServer(slow, record.szHost, record.nPort, record.szRemotePath, record.szUser,
                        record.szPassword);
        slow.nProtocol = record.nProtocol;
        StartConnection(re, &slow, pFinished, false);
        StartPlaceholder(i);
        ++*pFinished;
        // Gives the moved connection time to get up to speed before the next
        // decision, but a connection that ends meanwhile is seen at once.
        platform::Sleep(100);
        platform::WaitForAnySlot(slots.data(), nConnCount, kRepointPause);
        continue;
      }
      StartPlaceholder(i);
      ++*pFinished;
    }
    if (restarts >= kMaxRestarts) break;
  }
}

bool CDownN1::PrepareTarget(DownFileItem& item) {
  if (item.vecUrls.size() > static_cast<size_t>(kMaxMirrors)) {
    for (size_t i = kMaxMirrors; i < item.vecUrls.size(); ++i) {
      DebugLog("mirror dropped: %s", item.vecUrls[i].c_str());
    }
    item.vecUrls.resize(kMaxMirrors);
  }
  nGroupCount = static_cast<int32_t>(item.vecUrls.size());
  nConnCount = nGroupCount * nConnPerGroup;
  if (item.llSize <= 0) return false;
  std::lock_guard<std::mutex> lock(progress.lock);
  progress.llTotal = item.llSize;
  return true;
}

CDownN1::Plan CDownN1::ResumeOrPlan(const std::string& target, DownFileItem& item,
                                    Records* pRecords, platform::CFile* pLog) {
  Records& records = *pRecords;
  if (AdoptLog(target, item, &records)) {
    *pLog = platform::CFile(records[0]->hLog);
    nConnCount = static_cast<int32_t>(records.size());
    bool bAllDone = true;
    int64_t llDone = 0;
    for (auto& r : records) {
      r->pStop = &nQuit;
      r->pProgress = pLive;
      r->hFile = item.hFile.Get();
      r->pfnOnBytes = AddDownloaded;
      r->llDoneAtStart = r->llDone.load();
      llDone += r->llDone.load();
      bAllDone = bAllDone && r->llDone.load() == r->llLength;
    }
    if (bAllDone) return Plan::kComplete;
    std::lock_guard<std::mutex> lock(progress.lock);
    progress.llDownloaded += llDone;
    progress.nPercent = static_cast<int32_t>(static_cast<double>(progress.llDownloaded) /
                                             static_cast<double>(progress.llTotal) * 100);
    return Plan::kReady;
  }
  PlanSegments(item, &records);
  nConnCount = static_cast<int32_t>(records.size());
  if (nConnCount == 0) return Plan::kNothing;
  // Planned afresh: bytes of an older, longer file must not stay behind
  // the new one.
  platform::SetFileSize(item.hFile.Get(), item.llSize);
  std::vector<DownThreadInfo*> pointers;
  for (auto& r : records) pointers.push_back(r.get());
  const bool bLogged = CreateLog(target.c_str(), pointers.data(), nConnCount);
  *pLog = platform::CFile(records[0]->hLog);
  if (!bLogged) {
    // Without a usable log the download still runs; it just cannot resume.
    pLog->Close();
    platform::DeleteFile(target + ".dat");
    for (auto& r : records) {
      r->hLog = platform::FileHandle{};
      r->nLogOffset = 0;
      r->pLogSet.reset();
    }
  }
  return Plan::kReady;
}

void CDownN1::StartConnections(Records& records, int32_t* pFinished) {
  phThreads = std::make_unique<platform::CThreadSlot[]>(static_cast<size_t>(nConnCount));
  holds_ = std::make_unique<StopFlag[]>(static_cast<size_t>(nConnCount));
  const uint32_t dwStart = platform::GetTickCount();
  for (int32_t i = 0; i < nConnCount; ++i) {
    DownThreadInfo& r = *records[i];
    r.pHold = &holds_[i];
    r.dwStartTick = dwStart;
    if (r.nState.load() != 0) {
      StartConnection(i, &r, pFinished, false);
      platform::Sleep(100);
    } else {
      StartPlaceholder(i);
      ++*pFinished;
    }
  }
}

bool CDownN1::Finish(Records& records, platform::CFile& log, const std::string& target) {
  hDoneEvent->Set();
  for (int32_t i = 0; i < nConnCount; ++i) phThreads[i].Join();
  log.Close();
  bool bSuccess = true;
  for (auto& r : records) bSuccess = bSuccess && r->llDone.load() == r->llLength;
  records.clear();
  if (bSuccess) platform::DeleteFile(target + ".dat");
  return bSuccess;
}

// In four phases: the file and its mirrors; the segments, resumed from the
// log or planned afresh; the connections, started and kept busy; the end.
int32_t CDownN1::Run(platform::HWND hWndNotify, uint32_t uPeriod) {
  if (vecFiles.empty() || vecFiles[0].vecUrls.empty()) return 0;
  DownFileItem& item = vecFiles[0];
  if (!PrepareTarget(item)) return 0;
  const std::string target = std::string(item.szDir) + item.szName;
  DebugLog("%s", target.c_str());
  // The item owns the file and the log closes itself on every way out; the
  // records only borrow them.
  platform::Outcome why;
  item.hFile =
      platform::CFile(platform::OpenFile(target, platform::kFileRead | platform::kFileWrite,
                                         platform::FileDisposition::kOpenAlways, &why));
  platform::CFile log;
  if (!item.hFile.IsValid()) {
    DebugLog("CreateFile error: %d\n", why.code());
    return 0;
  }
  if (hWndNotify != 0) {
    hWnd = hWndNotify;
    {
      std::lock_guard<std::mutex> lock(progress.lock);
      progress.bActive = 1;
    }
    if (!StartNotifyTimer(*this, uPeriod)) return 0;
  }

  Records records;
  switch (ResumeOrPlan(target, item, &records, &log)) {
    case Plan::kComplete:
      StopNotifyTimer(*this);
      DebugLog("has down\n");
      return 1;
    case Plan::kNothing:
      if (hWndNotify != 0) StopNotifyTimer(*this);
      return 0;
    case Plan::kReady:
      break;
  }

  int32_t finished = 0;
  StartConnections(records, &finished);
  RunTransferLoop(records, &finished);

  const bool bSuccess = Finish(records, log, target);
  if (hWndNotify != 0) SendFinalNotification(*this, bSuccess, kSingleFileNotice);
  DebugLog("quit\n");
  return bSuccess ? 1 : 0;
}
