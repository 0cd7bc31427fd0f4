#include "engine/segment_writer.h"

#include "engine/resume_log.h"
#include "platform/clock.h"

CSegmentWriter::CSegmentWriter(DownThreadInfo& info, bool bTracksSpeed)
    : info_(info),
      bTracksSpeed_(bTracksSpeed),
      llLoopStart_(info.llDone.load()),
      dwLoopStart_(platform::GetTickCount()) {
  if (!bTracksSpeed_) return;
  std::lock_guard<std::mutex> lock(info_.lock);
  info_.dwSpeedStartTick = dwLoopStart_;
  info_.llSpeedStartDone = llLoopStart_;
}

void CSegmentWriter::NoteSpeed() {
  if (!bTracksSpeed_) return;
  const uint32_t dwElapsed = platform::GetTickCount() - dwLoopStart_;
  std::lock_guard<std::mutex> lock(info_.lock);
  // Within the first millisecond there is nothing to divide by: the
  // previous speed stands.
  if (dwElapsed > 0) info_.dSpeed = static_cast<double>(info_.llDone.load() - llLoopStart_) / dwElapsed;
}

bool CSegmentWriter::Place(const char* p, int64_t n) {
  const int64_t llOffset = info_.llStart + info_.llDone.load();
  if (platform::WriteFileAt(info_.hFile, p, static_cast<size_t>(n), llOffset) != static_cast<size_t>(n)) {
    return false;
  }
  info_.llDone += n;
  return true;
}

bool CSegmentWriter::Append(const char* p, int64_t n) {
  if (!Place(p, n)) return false;
  WriteLogRecord(info_);
  return true;
}
