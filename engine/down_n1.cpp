#include "engine/down_n1.h"

#include "engine/down_engine.h"
#include "engine/engine_log.h"

CDownN1::CDownN1() {
  nType |= kTaskN1;
  nConnPerGroup = 1;
}

CDownN1::~CDownN1() = default;

int32_t CDownN1::Init(char* szUrl, char* szPath, platform::HWND hWndNotify, int32_t nId,
                      uint32_t uPeriod) {
  if (progress.bActive) {
    DebugLog("Init error\n");
    return 0;
  }
  // progress.nId was set before the task was registered, where NN_Stop
  // reads it; writing it again here would race with that reader.
  (void)nId;
  if (szUrl == nullptr || szPath == nullptr) {
    DebugLog("input null\n");
    return 0;
  }
  if (szPath[0] == '\0') {
    DebugLog("input szPath error\n");
    return 0;
  }
  return Run(hWndNotify, uPeriod);
}

int32_t CDownN1::Run(platform::HWND, uint32_t) { return 0; }
