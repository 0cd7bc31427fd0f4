#include "engine/resume_log.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/down_engine.h"
#include "engine/engine_log.h"
#include "platform/coding.h"

namespace {

constexpr int32_t kFixedPart = 44;   // the integers before the strings
constexpr int32_t kMaxBody = 4 + kMaxLogRecords * kMaxLogRecord;
constexpr int64_t kMaxFileSize = 0x7FFFFFFF;  // offsets and sizes stay below 2 GiB

// The log's numbers are signed; its buffers are of char.
void Put32(char* p, int32_t v) {
  platform::EncodeFixed32(reinterpret_cast<unsigned char*>(p), static_cast<uint32_t>(v));
}
void Put64(char* p, int64_t v) {
  platform::EncodeFixed64(reinterpret_cast<unsigned char*>(p), static_cast<uint64_t>(v));
}
int32_t Get32(const char* p) {
  return static_cast<int32_t>(platform::DecodeFixed32(reinterpret_cast<const unsigned char*>(p)));
}
int64_t Get64(const char* p) {
  return static_cast<int64_t>(platform::DecodeFixed64(reinterpret_cast<const unsigned char*>(p)));
}

int32_t PutString(char* p, const char* sz, size_t capacity) {
  size_t n = strnlen(sz, capacity - 1);
  std::memcpy(p, sz, n);
  p[n] = '\0';
  return static_cast<int32_t>(n + 1);
}

// Reads a zero-terminated string that must end inside the bytes and fit its field.
bool GetString(const char* pBytes, size_t nAvailable, size_t* pPos, char* szOut,
               size_t capacity) {
  const size_t limit = std::min(nAvailable - *pPos, capacity);
  const void* end = std::memchr(pBytes + *pPos, '\0', limit);
  if (end == nullptr) return false;
  const size_t n = static_cast<const char*>(end) - (pBytes + *pPos);
  std::memcpy(szOut, pBytes + *pPos, n + 1);
  *pPos += n + 1;
  return true;
}

bool SoundSegment(int64_t llStart, int64_t llLength, int64_t llDone) {
  return llStart >= 0 && llLength >= 0 && llStart <= kMaxFileSize &&
         llLength <= kMaxFileSize - llStart && llDone >= 0 && llDone <= llLength;
}

std::string LogPath(const char* szTarget) { return std::string(szTarget) + ".dat"; }

// Packs every record of the set from offset 8 on, setting their offsets and
// lengths, and writes the whole log. Caller holds csResumeLog.
bool WriteWholeLog(platform::FileHandle hLog, const std::vector<DownThreadInfo*>& records) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[8 + records.size() * kMaxLogRecord]);
  if (!buffer) return false;
  int32_t offset = 8;
  for (DownThreadInfo* p : records) {
    p->nLogOffset = offset;
    p->nLogLength = PackThreadInfo(buffer.get() + offset, *p);
    offset += p->nLogLength;
  }
  Put32(buffer.get(), offset - 4);
  Put32(buffer.get() + 4, static_cast<int32_t>(records.size()));
  return platform::WriteFileAt(hLog, buffer.get(), static_cast<size_t>(offset), 0) ==
             static_cast<size_t>(offset) &&
         platform::SetFileSize(hLog, offset);
}

}  // namespace

int32_t PackThreadInfo(char* pBuffer, const DownThreadInfo& info) {
  Put32(pBuffer + 0, info.nState.load());
  Put32(pBuffer + 4, info.nProtocol);
  Put32(pBuffer + 8, info.nFileTag);
  Put32(pBuffer + 12, info.nSerial);
  Put32(pBuffer + 16, info.nLogOffset);
  Put64(pBuffer + 20, info.llStart);
  Put64(pBuffer + 28, info.llLength);
  Put64(pBuffer + 36, info.llDone.load());
  int32_t pos = kFixedPart;
  pos += PutString(pBuffer + pos, info.szHost, kUrlCapacity);
  pos += PutString(pBuffer + pos, info.szRemotePath, kUrlCapacity);
  pos += PutString(pBuffer + pos, info.szUser, kCredentialCapacity);
  pos += PutString(pBuffer + pos, info.szPassword, kCredentialCapacity);
  Put32(pBuffer + pos, info.nPort);
  Put32(pBuffer + pos + 4, info.nChunkSize);
  return pos + 8;
}

int32_t UnpackThreadInfo(const char* pBytes, size_t nAvailable,
                         std::unique_ptr<DownThreadInfo>* ppInfo) {
  ppInfo->reset();
  if (nAvailable < static_cast<size_t>(kFixedPart)) return -1;
  auto info = std::make_unique<DownThreadInfo>();
  info->nState = Get32(pBytes + 0);
  info->nProtocol = Get32(pBytes + 4);
  info->nFileTag = Get32(pBytes + 8);
  info->nSerial = Get32(pBytes + 12);
  info->nLogOffset = Get32(pBytes + 16);
  info->llStart = Get64(pBytes + 20);
  info->llLength = Get64(pBytes + 28);
  info->llDone = Get64(pBytes + 36);
  size_t pos = kFixedPart;
  if (!GetString(pBytes, nAvailable, &pos, info->szHost, kUrlCapacity) ||
      !GetString(pBytes, nAvailable, &pos, info->szRemotePath, kUrlCapacity) ||
      !GetString(pBytes, nAvailable, &pos, info->szUser, kCredentialCapacity) ||
      !GetString(pBytes, nAvailable, &pos, info->szPassword, kCredentialCapacity) ||
      nAvailable - pos < 8) {
    return -1;
  }
  info->nPort = Get32(pBytes + pos);
  info->nChunkSize = Get32(pBytes + pos + 4);
  pos += 8;
  const int32_t nState = info->nState.load();
  // The chunk size bounds every receive into the connection's buffer; a
  // "complete" record must really be complete, or its segment is never fetched.
  if (!SoundSegment(info->llStart, info->llLength, info->llDone.load()) ||
      (nState != -1 && nState != 0) || (nState == 0 && info->llDone.load() != info->llLength) ||
      (!IsHttpProtocol(info->nProtocol) && info->nProtocol != kProtocolFtp) ||
      info->nChunkSize <= 0 || info->nChunkSize > kChunkSize || info->nPort < 0 ||
      info->nPort > 65535) {
    return -1;
  }
  info->llDoneAtStart = info->llDone.load();
  info->nLogLength = static_cast<int32_t>(pos);
  *ppInfo = std::move(info);
  return static_cast<int32_t>(pos);
}

bool CreateLog(const char* szTarget, DownThreadInfo* const* ppRecords, int32_t n) {
  DebugLog("createlog");
  const std::string path = LogPath(szTarget);
  if (path.size() >= static_cast<size_t>(kPathCapacity) || n <= 0 || n > kMaxLogRecords) {
    return false;
  }
  platform::FileHandle hLog =
      platform::OpenFile(path, platform::kFileWrite, platform::FileDisposition::kCreateAlways);
  if (!hLog.IsValid()) return false;
  auto set = std::make_shared<std::vector<DownThreadInfo*>>(ppRecords, ppRecords + n);
  std::lock_guard<std::mutex> lock(g_downEngine.csResumeLog);
  for (DownThreadInfo* p : *set) {
    p->hLog = hLog;
    p->pLogSet = set;
  }
  return WriteWholeLog(hLog, *set);
}

bool LoadLog(const char* szTarget, std::vector<std::unique_ptr<DownThreadInfo>>* pRecords) {
  DebugLog("loadlog");
  pRecords->clear();
  const std::string path = LogPath(szTarget);
  if (path.size() >= static_cast<size_t>(kPathCapacity) || !platform::FileExists(path)) {
    return false;
  }
  platform::CFile log(platform::OpenFile(path, platform::kFileRead | platform::kFileWrite,
                                         platform::FileDisposition::kOpenExisting));
  if (!log.IsValid()) return false;

  std::lock_guard<std::mutex> lock(g_downEngine.csResumeLog);
  bool ok = false;
  char head[4];
  const int64_t llFileSize = platform::GetFileSize(log.Get());
  if (platform::ReadFileAt(log.Get(), head, 4, 0) == 4) {
    const int32_t nBody = Get32(head);
    // The body must be exactly the rest of the file and hold at least a count.
    if (nBody >= 4 && nBody <= kMaxBody && llFileSize == 4 + static_cast<int64_t>(nBody)) {
      std::unique_ptr<char[]> body(new (std::nothrow) char[nBody]);
      if (body && platform::ReadFileAt(log.Get(), body.get(), nBody, 4) == nBody) {
        const int32_t n = Get32(body.get());
        ok = n > 0 && n <= kMaxLogRecords;
        size_t pos = 4;
        for (int32_t i = 0; ok && i < n; ++i) {
          std::unique_ptr<DownThreadInfo> info;
          int32_t used = UnpackThreadInfo(body.get() + pos, nBody - pos, &info);
          // Each record must name its own place, or rewrites would land elsewhere.
          ok = used > 0 && info->nLogOffset == static_cast<int32_t>(pos) + 4;
          if (ok) {
            pos += used;
            pRecords->push_back(std::move(info));
          }
        }
        ok = ok && pos == static_cast<size_t>(nBody);
      }
    }
  }
  if (!ok) {
    pRecords->clear();
    return false;
  }
  // The records share the handle from here; the driver closes it.
  const platform::FileHandle hLog = log.Release();
  auto set = std::make_shared<std::vector<DownThreadInfo*>>();
  for (auto& p : *pRecords) {
    p->hLog = hLog;
    p->pLogSet = set;
    set->push_back(p.get());
  }
  return true;
}

bool WriteLogRecord(DownThreadInfo& info) {
  if (!info.hLog.IsValid()) return true;
  char buffer[kMaxLogRecord];
  std::lock_guard<std::mutex> lock(g_downEngine.csResumeLog);
  if (info.nLogOffset == 0) return true;
  const int32_t n = PackThreadInfo(buffer, info);
  if (n != info.nLogLength && info.pLogSet) return WriteWholeLog(info.hLog, *info.pLogSet);
  return platform::WriteFileAt(info.hLog, buffer, static_cast<size_t>(n), info.nLogOffset) ==
         static_cast<size_t>(n);
}

void SetRecordServer(DownThreadInfo& info, const char* szHost, int32_t nPort,
                     const char* szRemotePath, const char* szUser, const char* szPassword) {
  std::lock_guard<std::mutex> lock(g_downEngine.csResumeLog);
  auto copy = [](char* szTo, const char* szFrom, size_t capacity) {
    if (szTo == szFrom) return;
    size_t n = strnlen(szFrom, capacity - 1);
    std::memmove(szTo, szFrom, n);
    szTo[n] = '\0';
  };
  copy(info.szHost, szHost, kUrlCapacity);
  copy(info.szRemotePath, szRemotePath, kUrlCapacity);
  copy(info.szUser, szUser, kCredentialCapacity);
  copy(info.szPassword, szPassword, kCredentialCapacity);
  info.nPort = nPort;
}

bool LogCoversFile(const std::vector<std::unique_ptr<DownThreadInfo>>& records, int64_t llSize) {
  std::vector<std::pair<int64_t, int64_t>> segments;
  for (const auto& p : records) segments.emplace_back(p->llStart, p->llLength);
  std::sort(segments.begin(), segments.end());
  int64_t llNext = 0;
  for (const auto& [llStart, llLength] : segments) {
    if (llStart != llNext) return false;
    llNext = llStart + llLength;
  }
  return llNext == llSize;
}

bool GetDownloadSize(platform::FileHandle hSizeFile, uint32_t nSlot, int64_t* pValue) {
  if (!hSizeFile.IsValid() || nSlot >= kSizeSlots) return false;
  char header[kSizeSlots * 8] = {};
  std::lock_guard<std::mutex> lock(g_downEngine.csResumeLog);
  if (platform::ReadFileAt(hSizeFile, header, sizeof header, 0) < 0) {
    DebugLog("GetDownloadSize open file fail.");
    return false;
  }
  *pValue = Get64(header + nSlot * 8);
  return true;
}

void SetDownloadSize(platform::FileHandle hSizeFile, uint32_t nSlot, int64_t llValue) {
  if (!hSizeFile.IsValid() || nSlot >= kSizeSlots) return;
  char header[kSizeSlots * 8] = {};
  std::lock_guard<std::mutex> lock(g_downEngine.csResumeLog);
  if (platform::ReadFileAt(hSizeFile, header, sizeof header, 0) < 0) {
    // The reader's text on purpose: support staff look for this one line.
    DebugLog("GetDownloadSize open file fail.");
    return;
  }
  Put64(header + nSlot * 8, llValue);
  platform::WriteFileAt(hSizeFile, header, sizeof header, 0);
}
