// The engine's process-wide state, the task registry and the run that both
// download entry points share.
#pragma once

#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "engine/down_task.h"
#include "platform/error.h"

class DownEngine {
 public:
  DownEngine();
  ~DownEngine();
  DownEngine(const DownEngine&) = delete;
  DownEngine& operator=(const DownEngine&) = delete;

  bool bReady = false;  // set once during construction, then read-only
  std::mutex csResumeLog;
  std::mutex csTasks;
  std::vector<CDownBase*> vecTasks;  // guarded by csTasks; in start order
};

// Built during static initialisation, before main.
extern DownEngine g_downEngine;

// Creates every missing folder along the path, outermost first. On a folder
// that cannot be made, writes it and "CreateDirectory fail" to the run log
// and returns false; a path of 259 characters or more (with the appended
// separator) is refused. *pWhy, when given, receives the reason.
bool JudgeDir(const char* szFolder, platform::Outcome* pWhy = nullptr);

enum class StopRule {
  kNone,
  kStoppedMeansMinus199,  // NN_Down_nn: a stopped task returns -199
};

// Fills the call's folder buffer. A path that cannot fit with a separator
// appended leaves the buffer empty, so the task refuses it as an empty folder.
void CopyFolderArgument(const char* szPath, char (&szFolder)[kPathCapacity]);

void RegisterTask(CDownBase* pTask);

// Ends a task on the way out of a download call: wakes every NN_Stop waiting
// for it (whichever way the task ended), takes it out of the registry,
// applies the stop rule to *pResult and destroys it.
void FinishTask(CDownBase* pTask, int32_t* pResult, StopRule rule);

// The run of a download call: copies the arguments, registers a new TTask
// (made from args), runs its Init on the calling thread and unregisters and
// destroys it.
template <class TTask, class... Args>
int32_t RunDownloadCall(const char* szUrl, const char* szPath, platform::HWND hWnd, int32_t nId,
                        uint32_t uPeriod, StopRule rule, const Args&... args) {
  char* szUrlCopy = nullptr;
  if (szUrl != nullptr) {
    const size_t n = std::strlen(szUrl);
    szUrlCopy = new (std::nothrow) char[n + 1];
    if (szUrlCopy == nullptr) return 0;
    std::memcpy(szUrlCopy, szUrl, n + 1);
  }
  char szFolder[kPathCapacity];
  CopyFolderArgument(szPath, szFolder);

  auto* pTask = new TTask(args...);
  // Known before registration, so NN_Stop can find the task from the start.
  pTask->progress.nId = nId;
  RegisterTask(pTask);
  int32_t nResult =
      pTask->Init(szUrlCopy, szPath == nullptr ? nullptr : szFolder, hWnd, nId, uPeriod);
  FinishTask(pTask, &nResult, rule);
  delete[] szUrlCopy;
  return nResult;
}
