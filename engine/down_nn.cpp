#include "engine/down_nn.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/down_driver.h"
#include "engine/down_engine.h"
#include "engine/engine_log.h"
#include "engine/http_transfer.h"
#include "engine/list_names.h"
#include "engine/notify_timer.h"
#include "engine/resume_log.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/text.h"

namespace {

constexpr int64_t kSplitSize = 51200;
constexpr uint32_t kRestartDelay = 5000;

std::string TrimTrailingBlanks(std::string_view line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  return std::string(line);
}

void Note(std::string_view text) { AppendRunLog(platform::Utf8ToUtf16(text)); }

// Copies text into a path field; false when it does not fit.
bool SetPath(char (&szTo)[kPathCapacity], const std::string& text) {
  if (text.size() >= static_cast<size_t>(kPathCapacity)) return false;
  std::memcpy(szTo, text.c_str(), text.size() + 1);
  return true;
}

// Creates the folders along the data file's path; a folder that exists
// already counts as made.
void MakeParentFolders(const std::string& path) {
  const std::string native = platform::ToNativePath(path);
  const size_t cut = native.find_last_of('/');
  if (cut != std::string::npos && cut > 0) platform::CreateDirectories(native.substr(0, cut));
}

}  // namespace

CDownNN::CDownNN(ListNaming naming) : naming_(std::move(naming)) {
  nType |= kTaskNN;
  nGroupCount = 1;
  nConnPerGroup = 2;
  nConnCount = 2;
  phThreads = std::make_unique<platform::CThreadSlot[]>(2);
}

CDownNN::~CDownNN() = default;

bool CDownNN::AddItem(const std::string& line, const std::string& name, const char* szPath) {
  DownFileItem item;
  // The name ends at a line end left in it and fits a path field.
  std::string cut = name.substr(0, name.find("\r\n"));
  if (cut.size() >= static_cast<size_t>(kPathCapacity)) cut.resize(kPathCapacity - 1);
  SetPath(item.szName, cut);
  SetPath(item.szDir, szPath);
  item.vecUrls.push_back(line);
  item.llSize = GetUrlSize(line.c_str(), &nQuit);
  item.nProtocol = JudgeProtocol(line.c_str());
  if (!SplitHttpUrl(line.c_str(), item.szHost, &item.nPort, item.szRemotePath)) {
    AppendRunLog(u"SplitHttpUrl error\n");
    return false;
  }
  vecFiles.push_back(std::move(item));
  return true;
}

int32_t CDownNN::Init(char* szUrl, char* szPath, platform::HWND hWndNotify, int32_t nId,
                      uint32_t uPeriod) {
  // progress.nId was set before the task was registered, where NN_Stop
  // reads it; writing it again here would race with that reader.
  (void)nId;
  if (!CheckCallArguments(*this, szUrl, szPath, NoteLog::kRunLog)) return 0;
  const UrlList list = SplitUrlList(szUrl);
  if (!list.bList) {
    AppendRunLog(u"no find \\r\\n\n");
    return 0;
  }
  bool bListOk = true;
  for (std::string_view entry : list.lines) {
    // The update flow ends each entry with a blank, which the Windows file
    // functions drop from names; here it would name another file.
    const std::string line = TrimTrailingBlanks(entry);
    std::string name;
    if (line.size() >= static_cast<size_t>(kUrlCapacity) ||
        RemoveUrlPrefix(line.c_str(), naming_.prefix.c_str(), &name) < 0 || name.empty() ||
        name == "." || name == "..") {
      AppendRunLog(u"input szUrl error\n");
      Note(line);
      bListOk = false;
      break;
    }
    // Only HTTP (in clear or over TLS) is spoken here; any other scheme
    // would probe as size 0 and "succeed" with an empty file.
    if (!IsHttpProtocol(JudgeProtocol(line.c_str()))) {
      Note("list line " + line + ": the list download speaks http:// and https:// only");
      return 0;
    }
    if (!AddItem(line, name, szPath)) {
      bListOk = false;
      break;
    }
  }
  if (bListOk && !list.rest.empty() && list.rest.size() < static_cast<size_t>(kUrlCapacity)) {
    const std::string line = TrimTrailingBlanks(list.rest);
    std::string name;
    if (RemoveUrlPrefix(line.c_str(), naming_.lastLine.c_str(), &name) >= 0 && !name.empty() &&
        name != "." && name != "..") {
      if (!IsHttpProtocol(JudgeProtocol(line.c_str()))) {
        Note("list line " + line + ": the list download speaks http:// and https:// only");
        return 0;
      }
      AddItem(line, name, szPath);
    }
  }
  if (nQuit.load() != 0) vecFiles.clear();
  return Run(hWndNotify, uPeriod);
}

bool CDownNN::Prepare(DownFileItem& item, bool* pError) {
  {
    std::lock_guard<std::mutex> lock(progress.lock);
    progress.llTotal += item.llSize;
  }
  const std::string dir = item.szDir;
  std::string finalPath = dir + item.szName;
  if (finalPath.size() >= static_cast<size_t>(kPathCapacity)) finalPath.resize(kPathCapacity - 1);
  SetPath(item.szFinalPath, finalPath);
  // A failed size probe can never be told from an empty file once moved
  // into place: such a list fails here.
  if (item.llSize < 0) {
    AppendRunLog(u"GetUrlSize error\n");
    Note(item.vecUrls.front());
    return false;
  }
  platform::CFile existing(
      platform::OpenFile(finalPath, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  if (existing.IsValid()) {
    const int64_t llHave = platform::GetFileSize(existing.Get());
    if (llHave == item.llSize) {
      item.nState = 1;
      return true;
    }
    platform::DeleteFile(finalPath);
  }
  if (!SetPath(item.szDataPath, finalPath + ".vx!") || !SetPath(item.szSizePath, finalPath + ".vx$")) {
    return false;
  }
  MakeParentFolders(item.szDataPath);
  platform::Outcome why;
  item.hFile = platform::CFile(platform::OpenFile(item.szDataPath,
                                                  platform::kFileRead | platform::kFileWrite,
                                                  platform::FileDisposition::kOpenAlways, &why));
  if (!item.hFile.IsValid()) {
    // Standard output, not the engine log: where this line has always gone.
    std::printf("CreateFile error: %d\n", why.code());
    *pError = true;
    return false;
  }
  item.hSizeFile = platform::CFile(
      platform::OpenFile(item.szSizePath, platform::kFileRead | platform::kFileWrite,
                         platform::FileDisposition::kOpenAlways, &why));
  if (!item.hSizeFile.IsValid()) {
    std::printf("CreateFile error: %d\n", why.code());
    return false;
  }
  char head[8];
  const int64_t nHead = platform::ReadFileAt(item.hSizeFile.Get(), head, sizeof head, 0);
  int64_t llSlot0 = 0;
  GetDownloadSize(item.hSizeFile.Get(), 0, &llSlot0);
  // Bytes in the data file are only trusted with a header that describes
  // this very file; otherwise both start again, so an older version's bytes
  // never mix into the new one.
  if (nHead != 8 || llSlot0 != item.llSize || !DataMatchesHeader(item)) {
    item.hSizeFile.Close();
    item.hSizeFile = platform::CFile(
        platform::OpenFile(item.szSizePath, platform::kFileRead | platform::kFileWrite,
                           platform::FileDisposition::kCreateAlways, &why));
    if (!item.hSizeFile.IsValid()) {
      DebugLog("CreateFile error: %d\n", why.code());
      return false;
    }
    platform::SetFileSize(item.hFile.Get(), 0);
  }
  SetDownloadSize(item.hSizeFile.Get(), 0, item.llSize);
  return true;
}

bool CDownNN::DataMatchesHeader(const DownFileItem& item) {
  const int64_t llData = platform::GetFileSize(item.hFile.Get());
  if (item.llSize < kSplitSize) return llData <= item.llSize;
  // Each connection's bytes must all be in the data file.
  for (int32_t k = 0; k < nConnPerGroup; ++k) {
    int64_t llDone = 0;
    GetDownloadSize(item.hSizeFile.Get(), static_cast<uint32_t>(k + 1), &llDone);
    const Segment segment = EqualSegment(item.llSize, nConnPerGroup, k);
    if (llDone < 0 || llDone > segment.llLength || (llDone > 0 && segment.llStart + llDone > llData)) {
      return false;
    }
  }
  return true;
}

void CDownNN::CloseItems() {
  for (DownFileItem& item : vecFiles) {
    item.hFile.Close();
    item.hSizeFile.Close();
  }
}

int32_t CDownNN::RunBatch(size_t first, bool* pSuccess) {
  hDoneEvent->Reset();
  std::unique_ptr<DownThreadInfo> records[2];
  int32_t count = 0;
  auto start = [&](int32_t slot) {
    DownThreadInfo* p = records[slot].get();
    phThreads[slot].Start([p] { return HttpDownThreadNN(p); });
    platform::Sleep(100);
  };
  for (size_t f = first; f < vecFiles.size() && f < first + nGroupCount; ++f) {
    DownFileItem& item = vecFiles[f];
    if (item.nState == 1) {
      std::lock_guard<std::mutex> lock(pLive->lock);
      pLive->llDownloaded += item.llSize;
    } else if (item.llSize >= kSplitSize) {
      for (int32_t k = 0; k < nConnPerGroup; ++k) {
        auto p = MakeRecord(*this, item, item.nProtocol);
        const Segment segment = EqualSegment(item.llSize, nConnPerGroup, k);
        p->llStart = segment.llStart;
        p->llLength = segment.llLength;
        p->bReadSizeSlot = true;
        p->nSizeSlot = k;
        records[count + k] = std::move(p);
        start(count + k);
      }
      count += nConnPerGroup;
    } else {
      auto p = MakeRecord(*this, item, item.nProtocol);
      p->llStart = 0;
      p->llLength = item.llSize;
      p->llDone = platform::GetFileSize(item.hFile.Get());
      AddDownloaded(static_cast<int32_t>(p->llDone.load()), pLive);
      records[count] = std::move(p);
      start(count);
      count += 1;
    }
  }

  int32_t finished = 0;
  int32_t restarts = 0;
  bool bDone[2] = {false, false};
  CStallWatch watch;
  platform::CThreadSlot* slots[2] = {&phThreads[0], &phThreads[1]};
  while (finished < count && nQuit.load() == 0) {
    platform::Sleep(100);
    platform::WaitForAnySlot(slots, count, platform::kInfinite);
    for (int32_t i = 0; i < count; ++i) {
      if (nQuit.load() != 0) {
        hDoneEvent->Set();
        break;
      }
      if (bDone[i] || phThreads[i].IsRunning()) continue;
      if (records[i]->nState.load() == 0) {
        bDone[i] = true;
        auto pDone = hDoneEvent;
        phThreads[i].Start([pDone] { return WaitDoneThread(pDone); });
        ++finished;
      } else {
        int64_t llDone = 0;
        for (int32_t k = 0; k < count; ++k) llDone += records[k]->llDone.load();
        std::string cause;
        if (GiveUpAfter(watch, llDone, *records[i], &cause)) {
          AppendRunLog(platform::Utf8ToUtf16("download of " + std::string(records[i]->szHost) +
                                             records[i]->szRemotePath + " given up: " + cause));
          nQuit.fetch_add(1);
          continue;
        }
        SleepUnlessRaised(kRestartDelay, &nQuit, nullptr);
        if (nQuit.load() != 0) continue;
        DownThreadInfo* p = records[i].get();
        phThreads[i].Start([p] { return HttpDownThreadNN(p); });
        ++restarts;
      }
    }
    if (restarts >= kMaxRestarts) break;
  }
  hDoneEvent->Set();
  for (int32_t i = 0; i < count; ++i) phThreads[i].Join();
  for (int32_t i = 0; i < count; ++i) {
    if (records[i]->llDone.load() != records[i]->llLength) *pSuccess = false;
  }
  return count;
}

int32_t CDownNN::Run(platform::HWND hWndNotify, uint32_t uPeriod) {
  if (vecFiles.empty()) return 0;
  bool bError = false;
  bool bSuccess = true;
  progress.llTotal = 0;
  for (DownFileItem& item : vecFiles) {
    if (!Prepare(item, &bError)) {
      CloseItems();
      return bError ? 2 : 0;
    }
  }
  if (hWndNotify != 0) {
    {
      std::lock_guard<std::mutex> lock(progress.lock);
      progress.bActive = 1;
    }
    hWnd = hWndNotify;
    if (!StartNotifyTimer(*this, uPeriod)) {
      CloseItems();
      return 0;
    }
  }
  for (size_t first = 0; first < vecFiles.size() && nQuit.load() == 0 && bSuccess;
       first += nGroupCount) {
    RunBatch(first, &bSuccess);
  }
  if (nQuit.load() != 0) bSuccess = false;

  if (hWndNotify != 0) SendFinalNotification(*this, bSuccess, kListNotice);
  CloseItems();
  if (bSuccess) {
    for (DownFileItem& item : vecFiles) {
      if (item.nState == 1) continue;
      // A file that cannot take its final name is not downloaded; its size
      // header stays, so the next attempt resumes instead of starting over.
      if (!platform::MoveFile(item.szDataPath, item.szFinalPath)) {
        bSuccess = false;
        continue;
      }
      platform::DeleteFile(item.szSizePath);
    }
  }
  DebugLog("quit\n");
  return bSuccess ? 1 : 0;
}
