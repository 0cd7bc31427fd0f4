#include "app/main_dialog.h"

#include <algorithm>
#include <cstdio>

#include "engine/nn_down.h"
#include "platform/clock.h"
#include "platform/instance_lock.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/terminal.h"
#include "platform/text.h"
#include "platform/thread.h"
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
  platform::StartDetachedThread([this] { PrepareThread(this); });
}

void QarnAutoDlg::PrepareThread(QarnAutoDlg* pDialog) {
  PrepareUpdate(*pDialog);
  platform::SendMessage(pDialog->Handle(), WM_PREPARE_DONE, 0, 0);
}

void QarnAutoDlg::UpdateThread(QarnAutoDlg* pDialog) {
  switch (RunUpdate(*pDialog, pDialog->Handle())) {
    case UpdateOutcome::kRefused:
    case UpdateOutcome::kDone:
      pDialog->FinishAndExit();
    case UpdateOutcome::kDownloadFailed:
    case UpdateOutcome::kInstallFailed:
      platform::SendMessage(pDialog->Handle(), WM_UPDATE_FAILED, 0, 0);
      return;
  }
}

int QarnAutoDlg::Run() { return platform::RunMessageLoop(); }

namespace {

// Columns a code point takes on a terminal: the wide East Asian ranges take
// two, everything else one.
int CellWidth(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                 (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                 (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                 (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD)
             ? 2
             : 1;
}

// The UTF-8 text cut to at most nColumns cells, never inside a character.
std::string CutToColumns(const std::string& text, int nColumns, int* pUsed) {
  int used = 0;
  size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t n = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    char32_t c = n == 1 ? lead : lead & (0x3F >> (n - 1));
    for (size_t k = 1; k < n && at + k < text.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
    }
    if (used + CellWidth(c) > nColumns) break;
    used += CellWidth(c);
    at += n;
  }
  *pUsed = used;
  return text.substr(0, std::min(at, text.size()));
}

}  // namespace

std::string ComposeProgressLine(const std::string& text, int nPercent, int nColumns) {
  constexpr int kBarCells = 20;
  nPercent = std::clamp(nPercent, 0, 100);
  int nTextCells = 0;
  std::string shown = CutToColumns(text, 1 << 20, &nTextCells);
  int nBar = kBarCells;
  if (nColumns > 0) {
    // The last column stays free: writing there makes some terminals wrap.
    const int nRoom = nColumns - 1;
    nBar = std::min(kBarCells, nRoom - nTextCells - 3);
    if (nBar < 5) {
      nBar = 0;
      shown = CutToColumns(text, std::max(nRoom, 0), &nTextCells);
    }
  }
  if (nBar == 0) return shown;
  std::string line = "[";
  for (int i = 0; i < nBar; ++i) line += i < nPercent * nBar / 100 ? '#' : '-';
  return line + "] " + shown;
}

void QarnAutoDlg::Show(const std::string& line, bool bProgress, int nPercent) {
  if (bInPlace_ && bProgress) {
    // On a terminal the bar is drawn in place and never wraps, so the next
    // report overwrites all of it.
    std::fprintf(stderr, "\r%s\033[K",
                 ComposeProgressLine(line, nPercent, platform::StandardErrorColumns()).c_str());
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
      // The final report carries no speed of its own: it shows the average
      // since the first report of this attempt instead of 0.
      const uint32_t dwNow = platform::GetTickCount();
      if (!bSpeedBase_) {
        bSpeedBase_ = true;
        dwSpeedBaseTick_ = dwNow;
        llSpeedBaseBytes_ = p->llDownloaded;
      }
      double dSpeed = p->dSpeed;
      if (p->bActive == 0) {
        const uint32_t dwSpent = dwNow - dwSpeedBaseTick_;
        dSpeed = dwSpent > 0 ? static_cast<double>(p->llDownloaded - llSpeedBaseBytes_) / dwSpent : 0;
        bSpeedBase_ = false;
      }
      char line[512];
      std::snprintf(line, sizeof line, format.c_str(), p->nPercent,
                    static_cast<double>(p->llDownloaded) / 1048576.0,
                    static_cast<double>(p->llTotal) / 1048576.0, dSpeed * 1000.0 / 1024.0);
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
      platform::StartDetachedThread([this] { UpdateThread(this); });
      return 1;
    case WM_UPDATE_FAILED:
      if (bLineOpen_) Show("", false);
      if (platform::MessageBox(GetText(TextKey::DownloadFail), u"tips") == platform::IDOK) {
        platform::StartDetachedThread([this] { UpdateThread(this); });
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

void QarnAutoDlg::OnStatus(TextKey key) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    status_ = GetText(key);
  }
  // Shown by the window's own thread, as a repaint would be.
  platform::PostMessage(hWnd_, kShowStatus, 0, 0);
}

void QarnAutoDlg::OnPercentText(const std::u16string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  percent_ = text;
}

void QarnAutoDlg::OnSecondBarStyle(int nStyle) {
  std::lock_guard<std::mutex> guard(lock_);
  nSecondBarStyle_ = nStyle;
}

void QarnAutoDlg::OnInstallProgress(int nPercent) {
  platform::SendMessage(hWnd_, WM_INSTALL_PROGRESS, static_cast<platform::WPARAM>(nPercent),
                        kInstallProgressTag);
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
