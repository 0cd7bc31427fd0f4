// A list of files fetched one after another, two connections per large file.
#pragma once

#include "engine/down_task.h"

class CDownNN : public CDownBase {
 public:
  CDownNN();
  ~CDownNN() override;

  // Validates the arguments, builds the file items and runs the download.
  // 1 all complete, 0 failure or stop, 2 a data file cannot be opened.
  int32_t Init(char* szUrl, char* szPath, platform::HWND hWndNotify, int32_t nId,
               uint32_t uPeriod);
  int32_t Run(platform::HWND hWndNotify, uint32_t uPeriod);
};
