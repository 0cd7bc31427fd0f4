// The records that the engine's drivers and connections share: the task, the
// file item and the per-connection work record.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/connection.h"
#include "engine/nn_down.h"
#include "engine/url.h"
#include "platform/file.h"
#include "platform/message.h"
#include "platform/periodic_timer.h"
#include "platform/sync.h"
#include "platform/thread.h"

inline constexpr int32_t kTaskN1 = 1;
inline constexpr int32_t kTaskNN = 2;
inline constexpr int32_t kChunkSize = 204800;

// Copies the receiver-visible fields (offsets 0 to 43) of a progress record.
void CopyProgressFields(DownProgress& to, const DownProgress& from);

// The progress adder of the connections: adds nBytes (sign-extended) to the
// live record's llDownloaded under its lock and returns nBytes.
int32_t AddDownloaded(int32_t nBytes, DownProgress* pProgress);

struct DownFileItem {
  DownFileItem();
  int32_t nState = -1;  // 1: the finished file is already present
  int32_t nFileSerial;
  int64_t llSize = 0;
  char szName[kPathCapacity] = "";
  char szDir[kPathCapacity] = "";
  char szHost[kUrlCapacity] = "";
  char szRemotePath[kUrlCapacity] = "";
  char szUser[kCredentialCapacity] = "";
  char szPassword[kCredentialCapacity] = "";
  char szFinalPath[kPathCapacity] = "";
  char szDataPath[kPathCapacity] = "";
  char szSizePath[kPathCapacity] = "";
  int32_t nPort = 0;
  int32_t nProtocol = kProtocolHttp;  // of a list item: http or https
  // The item's own: closed when it goes (or when its driver closes it);
  // the connection records only borrow them.
  platform::CFile hFile;
  platform::CFile hSizeFile;
  std::vector<std::string> vecUrls;
};

// How long a task may go without a single byte of progress while its
// connections keep restarting before it gives up (a server that answers
// every request wrongly would otherwise hold it for ever).
inline constexpr uint32_t kNoProgressLimit = 90000;

// Why a connection ended without completing its segment, as far as the
// connection itself could tell. The driver decides from these whether
// asking again can still help.
enum class ConnEnd : int32_t {
  kUnknown = 0,  // not classified: only the no-progress limit decides
  kGoneAway,     // refused, closed or reset: nothing serves there any more
  kHopeless,     // an answer that no repetition changes (its reason says which)
  kSilent,       // accepted, then not a byte for the whole receive wait
};

// How soon a task gives up when no byte arrives and the connections' ends
// say that nothing can change: every end refused, closed or reset for this
// long; this many identical hopeless answers; this many silent waits.
inline constexpr uint32_t kGoneAwayLimit = 12000;
inline constexpr int32_t kHopelessLimit = 3;
inline constexpr int32_t kSilentLimit = 3;

// Watches a task's bytes and its connections' ends across restarts.
class CStallWatch {
 public:
  CStallWatch();
  // Called when a connection ended unfinished, with the task's bytes so
  // far and how the connection ended. True when the task should give up:
  // *pCause then says why, for the run log. A byte of progress starts
  // every count again, so a server that still sends, however slowly, is
  // never given up.
  bool GiveUp(int64_t llDone, ConnEnd end, const std::string& reason, std::string* pCause);

 private:
  void Progressed(int64_t llDone, uint32_t dwNow);

  int64_t llBest_ = -1;
  uint32_t dwSince_;
  bool bAllGoneAway_ = true;  // every end since the last byte was kGoneAway
  int32_t nSilent_ = 0;
  std::string hopeless_;      // the reason of the hopeless ends counted
  int32_t nHopeless_ = 0;
  uint32_t dwNoProgressLimit_;
};

// The limit every new watch uses: kNoProgressLimit, unless the environment
// (platform/env.h) names another for kNoProgressLimitName, as tests do.
inline constexpr const char* kNoProgressLimitName = "no-progress";
uint32_t NoProgressLimit();

// A download task. Lives for exactly one download call, which runs its
// driver on the calling thread; only nStop is touched by other threads
// (NN_Stop and the connections).
class CDownBase {
 public:
  CDownBase();
  virtual ~CDownBase();
  CDownBase(const CDownBase&) = delete;
  CDownBase& operator=(const CDownBase&) = delete;

  StopFlag nStop{0};  // only ever raised; NN_Stop's request
  // Raised with nStop, or when the task gives up on its own (see
  // CStallWatch); what the connections watch. Only ever raised.
  StopFlag nQuit{0};
  int32_t nType = 0;
  int32_t nChunkSize = kChunkSize;
  int32_t nGroupCount = 0;
  int32_t nConnPerGroup = 0;
  int32_t nConnCount = 0;
  std::unique_ptr<platform::CThreadSlot[]> phThreads;
  // Shared so that NN_Stop can still wait on it after the task is gone.
  std::shared_ptr<platform::CEvent> hDoneEvent;
  DownProgress progress;
  platform::HWND hWnd = 0;
  uint32_t dwLastTick = 0;  // notification timer state
  int64_t llLastBytes = 0;
  int64_t llLastSent = 0;
  DownProgress* pLive;
  DownProgress notify;
  platform::CPeriodicTimer timer;  // the notification timer, when hWnd is set
  std::vector<DownFileItem> vecFiles;
};


// One connection's work. The driver fills it before the connection thread
// starts and reads it after the thread has ended; while it runs, the driver
// reads only the atomics and dSpeed (under lock).
struct DownThreadInfo {
  DownThreadInfo();
  std::atomic<int32_t> nState{-1};  // 0 once the segment is complete
  int32_t nProtocol = kProtocolNone;
  const StopFlag* pStop = nullptr;
  const StopFlag* pHold = nullptr;
  int32_t nFileTag = 0;
  int32_t nSerial;
  int32_t nLogOffset = 0;  // 0: no resume log; guarded by csResumeLog once logged
  int64_t llStart = -1;
  int64_t llLength = -1;
  std::atomic<int64_t> llDone{-1};
  char szHost[kUrlCapacity] = "";
  char szRemotePath[kUrlCapacity] = "";
  char szUser[kCredentialCapacity] = "";
  char szPassword[kCredentialCapacity] = "";
  int32_t nPort = 0;
  DownProgress* pProgress = nullptr;
  platform::FileHandle hFile;      // not owned
  platform::FileHandle hSizeFile;  // not owned
  int32_t nChunkSize = kChunkSize;
  OnBytesFn pfnOnBytes = AddDownloaded;
  platform::FileHandle hLog;  // the task's resume log, shared by its records
  // Every record of hLog, in log order, for rewriting the whole log, and the
  // packed length this record has there. Guarded by csResumeLog.
  std::shared_ptr<std::vector<DownThreadInfo*>> pLogSet;
  int32_t nLogLength = 0;
  int32_t nRetryDelay = 0;
  double dSpeed = 0;  // guarded by lock
  // Where the current body loop began, so the driver can tell the speed as
  // it stands now rather than at the last chunk. Guarded by lock.
  uint32_t dwSpeedStartTick = 0;
  int64_t llSpeedStartDone = -1;  // -1: no loop has begun
  std::mutex lock;
  uint32_t dwStartTick = 0;
  int64_t llDoneAtStart = 0;
  bool bReadSizeSlot = false;
  int32_t nSizeSlot = -1;
  int64_t llFileSize = -1;  // the probed size of the whole file; -1 unknown
  // How the connection's last attempt ended, set by the connection before
  // its thread ends. Guarded by lock.
  ConnEnd end = ConnEnd::kUnknown;
  std::string endReason;
};

// Records how the connection's attempt ended (any thread).
void SetConnEnd(DownThreadInfo& info, ConnEnd end, const std::string& reason);

// How every segment thread begins: it waits out its retry pause (less once
// stopped or held), then true, with the segment marked complete, when
// nothing of it is left to fetch.
bool SegmentCompleteAfterPause(DownThreadInfo& info);
// Asks the watch about a connection that ended unfinished (see GiveUp).
bool GiveUpAfter(CStallWatch& watch, int64_t llDone, DownThreadInfo& info, std::string* pCause);

// The placeholder of a finished connection's slot: waits until the task's
// transfer loop has ended, then returns 0.
int32_t WaitDoneThread(const std::shared_ptr<platform::CEvent>& pDone);

// A new record for a connection to the item's server, with the task's
// chunk size, live progress and stop flag.
std::unique_ptr<DownThreadInfo> MakeRecord(CDownBase& task, const DownFileItem& item,
                                           int32_t nProtocol);

// Process-wide running numbers, used in log lines and resume-log records.
int32_t NextFileSerial();
int32_t NextThreadSerial();
