// A single file fetched from one or more mirrors at once.
#pragma once

#include "engine/down_task.h"

class CDownN1 : public CDownBase {
 public:
  CDownN1();
  ~CDownN1() override;

  // Validates the arguments, builds the file item and runs the download. 1
  // when the file is complete, 0 on every failure or after a stop.
  int32_t Init(char* szUrl, char* szPath, platform::HWND hWndNotify, int32_t nId,
               uint32_t uPeriod);
  int32_t Run(platform::HWND hWndNotify, uint32_t uPeriod);
};
