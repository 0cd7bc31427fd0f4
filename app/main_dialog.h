// The main dialog: the standard dialog over the skin, holding the status and
// percent labels and the two progress bars. Its logic is the same with and
// without a display: it starts the update threads and reacts to their
// messages on its own thread, and its controls hold what it shows. With a
// display the controls are drawn over the skin; in a terminal session the
// same state is shown as lines on standard error and its questions are
// asked on standard input.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "platform/message.h"
#include "platform/sync.h"
#include "ui/controls.h"
#include "ui/translucent_dialog.h"
#include "update/update_driver.h"

struct DownProgress;

// The update threads' messages to the main window, sent synchronously.
inline constexpr uint32_t WM_INSTALL_PROGRESS = 1326;  // wParam percent, lParam 5665
inline constexpr platform::LPARAM kInstallProgressTag = 5665;
inline constexpr uint32_t WM_PREPARE_DONE = 1472;
inline constexpr uint32_t WM_UPDATE_FAILED = 1473;

// The progress line drawn in place on a terminal nColumns wide (0: width
// unknown): "[####----] text" with a bar of up to 20 cells that shortens,
// then goes, so the line never wraps; the text is cut last.
std::string ComposeProgressLine(const std::string& text, int nPercent, int nColumns);

class QarnAutoDlg : public CStandardDialog, public IUpdateObserver {
 public:
  // pParent: the skin window in a window run; none in a terminal run.
  explicit QarnAutoDlg(CDialog* pParent = nullptr);
  ~QarnAutoDlg() override;

  // A terminal run: a window of the message layer, the initialisation, then
  // the thread's message loop; the process ends inside it.
  int RunInTerminal();

  // The input filter, then the message reactions, then the dialog's own.
  platform::LRESULT WindowProc(uint32_t uMsg, platform::WPARAM wParam, platform::LPARAM lParam) override;
  // The update threads' messages; each returns 1.
  platform::LRESULT OnMessage(uint32_t uMsg, platform::WPARAM wParam, platform::LPARAM lParam);

  platform::HWND Handle() const { return GetSafeHwnd(); }
  // The observer of the update steps, called on the worker threads: each
  // stores into a control, which asks the dialog's thread to show it.
  void OnStatus(TextKey key) override;
  void OnPercentText(const std::u16string& text) override;
  void OnSecondBarStyle(int nStyle) override;
  void OnInstallProgress(int nPercent) override;
  // Closes both windows (through the dialog's thread, waiting at most two
  // seconds) and ends the process with code 0. Any thread.
  [[noreturn]] void FinishAndExit();

  // What the dialog shows.
  int MainBar() const { return mainBar_.Pos(); }
  int SecondBar() const { return secondBar_.Pos(); }
  std::u16string StatusText() const { return status_.Text(); }
  // The dialog's picture at the skin's size: the controls over black.
  std::unique_ptr<platform::CCanvas> ComposePicture() { return ComposeChildren(396, 234); }

 protected:
  bool OnInitDialog() override;

 private:
  // The controls where the main window starts them.
  void ApplyInitialLayout();
  // Icon 128 on the dialog and its skin window.
  void SetIcons();
  // In a terminal run: a progress line is redrawn in place with a bar on a
  // terminal; on anything else every line is a line of its own. A window
  // run writes nothing.
  void Show(const std::string& line, bool bProgress, int nPercent = 0);
  // A download report in a terminal run, with how long nothing has arrived
  // once that is kStallShown or more; to anything but a terminal, at most
  // one line a second.
  void ShowDownload(const std::string& text, const DownProgress& progress, uint32_t dwNow);
  static constexpr uint32_t kStallShown = 3000;
  // The prepare thread and the update worker: the steps of update/, the
  // messages to the window, and the end of the process.
  static void PrepareThread(QarnAutoDlg* pDialog);
  static void UpdateThread(QarnAutoDlg* pDialog);

  CXStatic status_, percent_;
  CBmpProgCtrl mainBar_, secondBar_;
  const bool bTerminal_;  // no display: the terminal presentation
  bool bInPlace_;         // standard error is a terminal: progress redrawn in place
  std::atomic<bool> bLineOpen_{false};
  std::thread::id windowThread_;  // set by the initialisation, read-only after
  // Built by the initialisation on the window's thread, then lent to one
  // worker at a time: the preparation, then each attempt at the update.
  UpdateSettings settings_;
  platform::CEvent closed_{true, false};  // the windows are closed, ready to end
  // Where the average speed of an attempt starts; dialog's thread only.
  bool bSpeedBase_ = false;
  uint32_t dwSpeedBaseTick_ = 0;
  int64_t llSpeedBaseBytes_ = 0;
  // When a byte last arrived, and when the last progress line was written
  // to something that is not a terminal; dialog's thread only.
  uint32_t dwLastByteTick_ = 0;
  int64_t llLastBytes_ = -1;
  uint32_t dwLastLineTick_ = 0;
  bool bLineWritten_ = false;
  static constexpr uint32_t kShowStatus = platform::WM_USER + 1;
  static constexpr uint32_t kFinish = platform::WM_USER + 2;
};
