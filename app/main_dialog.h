// The main window. In a terminal session (no display) it shows the status
// and progress lines on standard error and asks its questions on standard
// input; its logic is the window's: it starts the update threads and reacts
// to their messages on the main thread.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/message.h"
#include "update/update_driver.h"

// The update threads' messages to the main window, sent synchronously.
inline constexpr uint32_t WM_INSTALL_PROGRESS = 1326;  // wParam percent, lParam 5665
inline constexpr platform::LPARAM kInstallProgressTag = 5665;
inline constexpr uint32_t WM_PREPARE_DONE = 1472;
inline constexpr uint32_t WM_UPDATE_FAILED = 1473;

// The progress line drawn in place on a terminal nColumns wide (0: width
// unknown): "[####----] text" with a bar of up to 20 cells that shortens,
// then goes, so the line never wraps; the text is cut last.
std::string ComposeProgressLine(const std::string& text, int nPercent, int nColumns);

class QarnAutoDlg : public IUpdateObserver {
 public:
  QarnAutoDlg();
  ~QarnAutoDlg() override;

  // Initialisation on the main thread: settings, install folder, login
  // handle, moves left from the last run, then the prepare thread.
  void OnInitDialog();
  // Runs the main thread's message loop; the process ends inside it.
  int Run();

  // The message reactions; each returns 1.
  platform::LRESULT OnMessage(uint32_t uMsg, platform::WPARAM wParam, platform::LPARAM lParam);

  platform::HWND Handle() const { return hWnd_; }
  // The observer of the update steps, called on the worker threads: each
  // stores what the window shows and has the window's thread show it.
  void OnStatus(TextKey key) override;
  void OnPercentText(const std::u16string& text) override;
  void OnSecondBarStyle(int nStyle) override;
  void OnInstallProgress(int nPercent) override;
  // Closes the window and ends the process with code 0, from any thread.
  [[noreturn]] void FinishAndExit();

  // What the window shows (the bars' positions and the labels' texts).
  int MainBar() const { return nMainBar_; }
  int SecondBar() const { return nSecondBar_; }
  std::u16string StatusText();

 private:
  // A progress line is redrawn in place with a bar on a terminal; on
  // anything else every line is a line of its own.
  void Show(const std::string& line, bool bProgress, int nPercent = 0);
  // The prepare thread and the update worker: the steps of update/, the
  // messages to the window, and the end of the process.
  static void PrepareThread(QarnAutoDlg* pDialog);
  static void UpdateThread(QarnAutoDlg* pDialog);
  platform::HWND hWnd_ = 0;
  std::mutex lock_;  // guards the label texts and the bar style, set from workers
  std::u16string status_;
  std::u16string percent_ = u"0%";
  int nSecondBarStyle_ = 0;
  int nMainBar_ = 0;    // main thread only
  int nSecondBar_ = 0;  // main thread only
  bool bInPlace_;       // standard error is a terminal: progress redrawn in place
  std::atomic<bool> bLineOpen_{false};
  // Where the average speed of an attempt starts; main thread only.
  bool bSpeedBase_ = false;
  uint32_t dwSpeedBaseTick_ = 0;
  int64_t llSpeedBaseBytes_ = 0;
  static constexpr uint32_t kShowStatus = platform::WM_USER + 1;
};
