// Fuzz target: resume logs and records from hostile bytes must read as
// absent or as a sound plan, never outside a buffer.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/resume_log.h"
#include "platform/file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  std::unique_ptr<DownThreadInfo> info;
  const int32_t used = UnpackThreadInfo(reinterpret_cast<const char*>(pData), nSize, &info);
  if (used > 0) {
    if (static_cast<size_t>(used) > nSize || info->llDone.load() > info->llLength) __builtin_trap();
    char packed[kMaxLogRecord];
    if (PackThreadInfo(packed, *info) != used) __builtin_trap();
  }

  platform::CFile h(platform::OpenFile("fuzz-target.dat", platform::kFileWrite,
                                       platform::FileDisposition::kCreateAlways));
  platform::WriteFileAt(h.Get(), pData, nSize, 0);
  h.Close();
  std::vector<std::unique_ptr<DownThreadInfo>> records;
  if (LoadLog("fuzz-target", &records)) {
    if (records.empty() || records.size() > static_cast<size_t>(kMaxLogRecords)) __builtin_trap();
    for (auto& r : records) {
      if (r->llStart < 0 || r->llDone.load() < 0 || r->llDone.load() > r->llLength ||
          r->nChunkSize <= 0 || r->nChunkSize > kChunkSize) {
        __builtin_trap();
      }
    }
    LogCoversFile(records, records[0]->llLength);
    records[0]->llDone = 0;
    WriteLogRecord(*records[0]);
    platform::CloseFile(records[0]->hLog);
  }
  return 0;
}
