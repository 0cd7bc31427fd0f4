// A list of files fetched one after another, two connections per large file.
#pragma once

#include <string>

#include "engine/down_task.h"
#include "engine/list_names.h"

class CDownNN : public CDownBase {
 public:
  explicit CDownNN(ListNaming naming = {});
  ~CDownNN() override;

  // Validates the arguments, builds the file items and runs the download.
  // 1 all complete, 0 failure or stop, 2 a data file cannot be opened.
  int32_t Init(char* szUrl, char* szPath, platform::HWND hWndNotify, int32_t nId,
               uint32_t uPeriod);
  int32_t Run(platform::HWND hWndNotify, uint32_t uPeriod);

 private:
  // Builds one file item from a list line; false when the line cannot be
  // split, which ends the list.
  bool AddItem(const std::string& line, const std::string& name, const char* szPath);
  // Opens the item's data file and size header; false ends the preparation
  // (*pError: the data file cannot be opened).
  bool Prepare(DownFileItem& item, bool* pError);
  bool DataMatchesHeader(const DownFileItem& item);
  // Fetches the files of one batch; clears *pSuccess when a segment stays
  // incomplete. Returns the number of connections it ran.
  int32_t RunBatch(size_t first, bool* pSuccess);
  void CloseItems();

  const ListNaming naming_;
};

// NN_Down_nn, with the files named by the caller's naming rather than after
// their URLs' last "/".
int32_t DownUrlList(const char* szUrl, const char* szPath, uintptr_t hWnd, int32_t nId,
                    uint32_t uPeriod, const ListNaming& naming);
