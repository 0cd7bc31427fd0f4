#include "engine/down_nn.h"

#include "engine/down_engine.h"
#include "engine/engine_log.h"

CDownNN::CDownNN() {
  nType |= kTaskNN;
  nGroupCount = 1;
  nConnPerGroup = 2;
  nConnCount = 2;
  phThreads = std::make_unique<platform::CThreadSlot[]>(2);
}

CDownNN::~CDownNN() = default;

int32_t CDownNN::Init(char* szUrl, char* szPath, platform::HWND hWndNotify, int32_t nId,
                      uint32_t uPeriod) {
  if (progress.bActive) {
    AppendRunLog(u"Init error\n");
    return 0;
  }
  progress.nId = nId;
  if (szUrl == nullptr || szPath == nullptr) {
    AppendRunLog(u"input null\n");
    return 0;
  }
  if (szPath[0] == '\0') {
    AppendRunLog(u"input szPath error\n");
    return 0;
  }
  return Run(hWndNotify, uPeriod);
}

int32_t CDownNN::Run(platform::HWND, uint32_t) { return 0; }
