// A single file fetched from one or more mirrors at once: one connection per
// mirror, each filling its own segment of the target in place, with a
// resume log beside the target.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/down_task.h"
#include "platform/file.h"

// The largest number of mirrors one task uses; further mirrors are dropped.
inline constexpr int32_t kMaxMirrors = 64;

class CDownN1 : public CDownBase {
 public:
  CDownN1();
  ~CDownN1() override;

  // Validates the arguments, probes every mirror and runs the download. 1
  // when the file is complete, 0 on every failure or after a stop.
  int32_t Init(char* szUrl, char* szPath, platform::HWND hWndNotify, int32_t nId,
               uint32_t uPeriod);
  int32_t Run(platform::HWND hWndNotify, uint32_t uPeriod);

 private:
  using Records = std::vector<std::unique_ptr<DownThreadInfo>>;
  // Adds a mirror whose size matches the file's (the first one fixes it).
  void AddMirror(DownFileItem& item, const std::string& line);
  // Adopts the resume log when it describes this file; false to plan afresh.
  bool AdoptLog(const std::string& target, const DownFileItem& item, Records* pRecords);
  // One record per mirror that splits, with equal segments, the last taking
  // the remainder.
  void PlanSegments(const DownFileItem& item, Records* pRecords);
  void StartConnection(int32_t nSlot, DownThreadInfo* pInfo, int32_t* pFinished, bool bRetry);
  void StartPlaceholder(int32_t nSlot);
  void RunTransferLoop(Records& records, int32_t* pFinished);

  // Run's phases. The file and its mirrors (at most kMaxMirrors): false when
  // its size is unknown.
  bool PrepareTarget(DownFileItem& item);
  // The segments, from the resume log or planned afresh with a new log.
  enum class Plan { kReady, kComplete, kNothing };
  Plan ResumeOrPlan(const std::string& target, DownFileItem& item, Records* pRecords,
                    platform::CFile* pLog);
  // One connection per unfinished segment, a placeholder for each finished.
  void StartConnections(Records& records, int32_t* pFinished);
  // Ends the connections and closes the log; true when every segment is
  // complete (the log is then deleted).
  bool Finish(Records& records, platform::CFile& log, const std::string& target);

  std::unique_ptr<StopFlag[]> holds_;  // one hold counter per connection
};

// The connection to move onto the finished connection's server, or -1: a
// random one of those slower than 0.6 times the finished one's speed with
// more than 20480 bytes left.
int32_t PickSlowConnection(DownThreadInfo& finished, DownThreadInfo* const* ppRecords,
                           int32_t nCount);
