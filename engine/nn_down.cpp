// The engine's exported entry points.
#include "engine/nn_down.h"

#include "engine/down_engine.h"
#include "engine/down_n1.h"
#include "engine/down_nn.h"
#include "engine/engine_log.h"

extern "C" int32_t NN_Down_n1(const char* szUrl, const char* szPath, uintptr_t hWnd, int32_t nId,
                              uint32_t uPeriod) {
  return RunDownloadCall<CDownN1>(szUrl, szPath, hWnd, nId, uPeriod, StopRule::kNone);
}

extern "C" int32_t NN_Down_nn(const char* szUrl, const char* szPath, uintptr_t hWnd, int32_t nId,
                              uint32_t uPeriod) {
  if (!g_downEngine.bReady) {
    DebugLog("init fail");
    return 0;
  }
  DebugLog("NN_nn in --> id: %d", nId);
  int32_t nResult = RunDownloadCall<CDownNN>(szUrl, szPath, hWnd, nId, uPeriod,
                                             StopRule::kStoppedMeansMinus199);
  DebugLog("NN_nn out <-- id: %d, exit: %d", nId, nResult);
  return nResult;
}
