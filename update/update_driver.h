// The update from start to end on worker threads: the prepare thread builds
// the download list, the update worker closes clients, downloads and
// installs the package, records the folder, makes the launcher, starts the
// client and ends the process. They report to the main window by messages
// sent synchronously.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message.h"

inline constexpr uint32_t WM_PREPARE_DONE = 1472;
inline constexpr uint32_t WM_UPDATE_FAILED = 1473;

// What the update threads use of the main window. The setters only store a
// value for the window's own thread to show; FinishAndExit ends the process
// from whichever thread calls it.
class CUpdateWindow {
 public:
  virtual ~CUpdateWindow() = default;
  virtual platform::HWND Handle() const = 0;
  virtual void SetStatus(const std::u16string& text, int x, int y, int nWidth, int nHeight) = 0;
  virtual void SetPercentText(const std::u16string& text) = 0;
  virtual void SetSecondBarStyle(int nStyle) = 0;
  [[noreturn]] virtual void FinishAndExit() = 0;
};

// Clears and fills the download list, then sends WM_PREPARE_DONE. 1.
int32_t PrepareThreadProc(CUpdateWindow* pWindow);

// One attempt at the whole update; sends WM_UPDATE_FAILED after a failed
// download or installation; ends the process after a successful one.
int32_t UpdateThreadProc(CUpdateWindow* pWindow);

// Starts a procedure on a worker thread of its own (detached: the process
// ends without joining it).
void StartWorkerThread(int32_t (*proc)(CUpdateWindow*), CUpdateWindow* pWindow);
