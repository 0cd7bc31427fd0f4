#include "engine/down_engine.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>

#include "engine/engine_log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "platform/text.h"

DownEngine g_downEngine;

DownEngine::DownEngine() {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  bReady = platform::StartNetworking();
}

DownEngine::~DownEngine() = default;

bool JudgeDir(const char* szFolder, platform::Outcome* pWhy) {
  platform::Outcome ignored;
  platform::Outcome& why = pWhy != nullptr ? *pWhy : ignored;
  why = platform::Outcome::Failure("no folder named");
  if (szFolder == nullptr) return false;
  std::string path = szFolder;
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path += '\\';
  why = platform::Outcome::Failure(path + ": the path is too long");
  if (path.size() >= static_cast<size_t>(kPathCapacity)) return false;
  std::replace(path.begin(), path.end(), '/', '\\');

  for (size_t pos = path.find('\\'); pos != std::string::npos; pos = path.find('\\', pos + 1)) {
    const std::string prefix = path.substr(0, pos);
    // The prefix with its separator names the folder itself; "" + "\" is the root.
    if (platform::DirectoryExists(prefix + '\\')) continue;
    why = platform::CreateDirectory(prefix);
    if (!why) {
      AppendRunLog(platform::Utf8ToUtf16(prefix));
      AppendRunLog(u"CreateDirectory fail");
      return false;
    }
  }
  why = platform::Outcome::OK();
  return true;
}

void CopyFolderArgument(const char* szPath, char (&szFolder)[kPathCapacity]) {
  szFolder[0] = '\0';
  if (szPath == nullptr) return;
  const size_t n = std::strlen(szPath);
  const bool bHasSeparator = n > 0 && (szPath[n - 1] == '\\' || szPath[n - 1] == '/');
  const size_t nRoom = bHasSeparator ? kPathCapacity - 1 : kPathCapacity - 2;
  if (n > nRoom) return;
  std::memcpy(szFolder, szPath, n + 1);
}

void RegisterTask(CDownBase* pTask) {
  std::lock_guard<std::mutex> lock(g_downEngine.csTasks);
  g_downEngine.vecTasks.push_back(pTask);
}

void FinishTask(CDownBase* pTask, int32_t* pResult, StopRule rule) {
  // A task can end before its driver ever signals (a set-up failure, a stop
  // during the size probes); NN_Stop must still wake.
  pTask->hDoneEvent->Set();
  std::lock_guard<std::mutex> lock(g_downEngine.csTasks);
  auto& tasks = g_downEngine.vecTasks;
  auto it = std::find(tasks.begin(), tasks.end(), pTask);
  if (it == tasks.end()) return;
  if (rule == StopRule::kStoppedMeansMinus199 && pTask->nStop.load() != 0) *pResult = -199;
  tasks.erase(it);
  delete pTask;
}

extern "C" int32_t NN_Stop(int32_t nId) {
  if (!g_downEngine.bReady) {
    DebugLog("init fail");
    return 0;
  }
  DebugLog("NN_Stop in --> id: %d", nId);
  std::shared_ptr<platform::CEvent> pDone;
  int32_t nType = 0;
  {
    std::lock_guard<std::mutex> lock(g_downEngine.csTasks);
    for (CDownBase* pTask : g_downEngine.vecTasks) {
      if (pTask->progress.nId != nId) continue;
      // Raised while the registry lock keeps the task alive; after the lock
      // only the shared event may be touched.
      pTask->nStop.store(1);
      pTask->nStop.fetch_add(1);
      pTask->nQuit.fetch_add(1);
      pDone = pTask->hDoneEvent;
      nType = pTask->nType;
      break;
    }
  }
  if (!pDone) {
    DebugLog("NN_stop out <-- id: null");
    return 0;
  }
  if (nType == kTaskN1 || nType == kTaskNN) {
    pDone->Wait();
    platform::Sleep(100);
  } else {
    DebugLog("NN_stop type error");
  }
  DebugLog("NN_stop out <-- id: %d", nId);
  return 1;
}
