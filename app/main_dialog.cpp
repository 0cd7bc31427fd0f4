#include "app/main_dialog.h"

#include <cstdio>

#include "engine/nn_down.h"
#include "platform/instance_lock.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/text.h"
#include "ui/language_texts.h"
#include "update/install_location.h"
#include "update/launch_settings.h"
#include "update/package_install.h"

QarnAutoDlg::QarnAutoDlg() : bInPlace_(platform::StandardErrorIsTerminal()) {
  hWnd_ = platform::CreateMessageWindow(
      [this](platform::HWND, uint32_t uMsg, platform::WPARAM w, platform::LPARAM l) {
        return OnMessage(uMsg, w, l);
      });
  status_ = GetText(TextKey::VerifyingClient);
}

QarnAutoDlg::~QarnAutoDlg() { platform::DestroyMessageWindow(hWnd_); }

void QarnAutoDlg::OnInitDialog() {
  Show(platform::Utf16ToUtf8(GetText(TextKey::WindowsText)), false);
  ParseLaunchArguments();
  DiscoverInstallDir();
  // What an earlier run could not replace is replaced now, before anything
  // reads the install folder.
  RunPendingMoves(InstallDir);
  WriteLoginHandle(static_cast<uint32_t>(hWnd_) * 2 + 6);
  Show(platform::Utf16ToUtf8(StatusText()), false);
  StartWorkerThread(PrepareThreadProc, this);
}

int QarnAutoDlg::Run() { return platform::RunMessageLoop(); }

void QarnAutoDlg::Show(const std::string& line, bool bProgress, int nPercent) {
  if (bInPlace_ && bProgress) {
    // On a terminal the bar is drawn in place: [#####-----] and the line.
    char bar[23] = "[";
    for (int i = 0; i < 20; ++i) bar[1 + i] = i < nPercent / 5 ? '#' : '-';
    bar[21] = ']';
    std::fprintf(stderr, "\r%s %s\033[K", bar, line.c_str());
    bLineOpen_ = true;
  } else {
    std::fprintf(stderr, "%s%s\n", bLineOpen_ ? "\n" : "", line.c_str());
    bLineOpen_ = false;
  }
  std::fflush(stderr);
}

platform::LRESULT QarnAutoDlg::OnMessage(uint32_t uMsg, platform::WPARAM wParam,
                                         platform::LPARAM lParam) {
  switch (uMsg) {
    case WM_DOWN_NOTIFY: {
      const auto* p = reinterpret_cast<const DownProgress*>(wParam);
      if (lParam != 999 || p == nullptr || p->nPercent < 0 || p->nPercent > 100) return 1;
      const std::string format = platform::Utf16ToUtf8(GetText(TextKey::DownloadKb));
      char line[512];
      std::snprintf(line, sizeof line, format.c_str(), p->nPercent,
                    static_cast<double>(p->llDownloaded) / 1048576.0,
                    static_cast<double>(p->llTotal) / 1048576.0, p->dSpeed * 1000.0 / 1024.0);
      {
        std::lock_guard<std::mutex> guard(lock_);
        status_ = platform::Utf8ToUtf16(line);
      }
      nMainBar_ = p->nPercent;
      Show(line, true, p->nPercent);
      return 1;
    }
    case WM_INSTALL_PROGRESS:
      if (lParam != kInstallProgressTag) return 1;
      nSecondBar_ = static_cast<int>(wParam);
      Show("Installing: " + std::to_string(nSecondBar_) + "%", true, nSecondBar_);
      return 1;
    case WM_PREPARE_DONE:
      StartWorkerThread(UpdateThreadProc, this);
      return 1;
    case WM_UPDATE_FAILED:
      if (bLineOpen_) Show("", false);
      if (platform::MessageBox(GetText(TextKey::DownloadFail), u"tips") == platform::IDOK) {
        StartWorkerThread(UpdateThreadProc, this);
      } else {
        FinishAndExit();
      }
      return 1;
    case kShowStatus:
      Show(platform::Utf16ToUtf8(StatusText()), false);
      return 1;
    default:
      return 1;
  }
}

void QarnAutoDlg::SetStatus(const std::u16string& text, int, int, int, int) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    status_ = text;
  }
  // Shown by the window's own thread, as a repaint would be.
  platform::PostMessage(hWnd_, kShowStatus, 0, 0);
}

void QarnAutoDlg::SetPercentText(const std::u16string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  percent_ = text;
}

void QarnAutoDlg::SetSecondBarStyle(int nStyle) {
  std::lock_guard<std::mutex> guard(lock_);
  nSecondBarStyle_ = nStyle;
}

std::u16string QarnAutoDlg::StatusText() {
  std::lock_guard<std::mutex> guard(lock_);
  return status_;
}

void QarnAutoDlg::FinishAndExit() {
  if (bLineOpen_) std::fputc('\n', stderr);
  std::fflush(stderr);
  std::fflush(stdout);
  platform::ExitProcess(0);
}
