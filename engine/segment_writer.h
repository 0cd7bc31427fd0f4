// Where a connection's received bytes go, for the HTTP and the FTP body
// loops alike: the segment's next free place in the target, the record's
// count, its resume-log record, and the connection's speed for its driver.
#pragma once

#include <cstdint>

#include "engine/down_task.h"

class CSegmentWriter {
 public:
  // Starts the speed clock when bTracksSpeed (the single-file driver picks
  // slow connections by it; the list driver does not look).
  CSegmentWriter(DownThreadInfo& info, bool bTracksSpeed);

  // The speed since the loop began, as it stands after a receive.
  void NoteSpeed();
  // Writes the bytes at the segment's end and counts them; false, with
  // nothing counted, when the disk refuses them.
  bool Place(const char* p, int64_t n);
  // Place, then the resume log's record of the segment.
  bool Append(const char* p, int64_t n);

 private:
  DownThreadInfo& info_;
  const bool bTracksSpeed_;
  const int64_t llLoopStart_;
  const uint32_t dwLoopStart_;
};
