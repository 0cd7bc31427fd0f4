#include "app/main_dialog.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/nn_down.h"
#include "platform/clock.h"
#include "platform/coding.h"
#include "platform/display.h"
#include "platform/instance_lock.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/terminal.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "res/resources.h"
#include "ui/bar_layout.h"
#include "ui/language_texts.h"
#include "update/install_location.h"
#include "update/launch_settings.h"
#include "update/package_install.h"
#include "update/pending_moves.h"

QarnAutoDlg::QarnAutoDlg(CDialog* pParent)
    : CStandardDialog(pParent),
      bTerminal_(pParent == nullptr),
      bInPlace_(platform::StandardErrorIsTerminal()) {
  SetTitle(GetText(TextKey::WindowsText));
  AddChild(&status_, 1034);
  AddChild(&percent_, 1035);
  AddChild(&mainBar_, 999);
  AddChild(&secondBar_, 998);
  ApplyInitialLayout();
}

QarnAutoDlg::~QarnAutoDlg() = default;

namespace {

platform::Rect Bounds(const BarBox& box) {
  return platform::Rect{box.x, box.y, box.x + box.w, box.y + box.h};
}

}  // namespace

void QarnAutoDlg::ApplyInitialLayout() {
  // The labels lie outside the window and stay hidden; what a player sees
  // of progress is the two bars.
  status_.SetBounds(platform::Rect{355, 557, 355 + 290, 557 + 29});
  status_.SetTextColour(0xFFFFFF);
  status_.SetText(GetText(TextKey::VerifyingClient));
  status_.SetVisible(false);
  percent_.SetBounds(platform::Rect{411, 617, 411 + 234, 617 + 19});
  percent_.SetTextColour(0xFFFFFF);
  percent_.SetText(u"0%");
  percent_.SetVisible(false);
  mainBar_.SetBounds(Bounds(kMainBarBox));
  mainBar_.SetRange(0, 100);
  mainBar_.SetStyle(1);
  secondBar_.SetBounds(Bounds(kSecondBarBox));
  secondBar_.SetRange(0, 100);
  secondBar_.SetStyle(0);
}

void QarnAutoDlg::SetIcons() {
  const ResourceEntry* pIcon = FindResource("ICON", 128);
  if (!pIcon || pIcon->nSize < 6) return;
  // An ICO of PNG images: a directory of 16-byte entries after 6 bytes.
  auto u32 = [pIcon](size_t at) {
    return static_cast<size_t>(platform::DecodeFixed32(pIcon->pData + at));
  };
  const size_t nImages = platform::DecodeFixed16(pIcon->pData + 4);
  std::vector<std::unique_ptr<platform::CCanvas>> sizes;
  for (size_t i = 0; i < nImages && 6 + 16 * (i + 1) <= pIcon->nSize; ++i) {
    const size_t nSize = u32(6 + 16 * i + 8), nOffset = u32(6 + 16 * i + 12);
    if (nOffset > pIcon->nSize || nSize > pIcon->nSize - nOffset) continue;
    std::unique_ptr<platform::CImage> pImage = platform::DecodePng(pIcon->pData + nOffset, nSize);
    if (!pImage) continue;
    auto pCanvas = platform::CreateCanvas(pImage->Width(), pImage->Height());
    pCanvas->DrawImage(*pImage, platform::Rect{0, 0, pImage->Width(), pImage->Height()});
    sizes.push_back(std::move(pCanvas));
  }
  std::vector<platform::CCanvas*> views;
  for (auto& p : sizes) views.push_back(p.get());
  platform::SetWindowIcon(GetSafeHwnd(), views);
  if (Parent()) platform::SetWindowIcon(Parent()->GetSafeHwnd(), views);
}

int QarnAutoDlg::RunInTerminal() {
  CreateWithoutDisplay();
  return platform::RunMessageLoop();
}

bool QarnAutoDlg::OnInitDialog() {
  CStandardDialog::OnInitDialog();
  windowThread_ = std::this_thread::get_id();
  if (!bTerminal_) {
    // A window run writes nothing on the terminal, as a windowed program
    // without a console does not; its notes go to the run log.
    platform::DetachStandardOutput();
    SetIcons();
  }
  Show(platform::Utf16ToUtf8(GetText(TextKey::WindowsText)), false);
  settings_ = ParseLaunchArguments();
  DiscoverInstallDir(&settings_);
  // What an earlier run could not replace is replaced now, before anything
  // reads the install folder.
  RunPendingMoves(settings_.InstallDir);
  // Another program reaches the windows through this value.
  WriteLoginHandle(platform::PublicWindowHandle(GetSafeHwnd()) * 2 + 6);
  ApplyInitialLayout();
  Show(platform::Utf16ToUtf8(StatusText()), false);
  platform::StartDetachedThread([this] { PrepareThread(this); });
  return true;
}

void QarnAutoDlg::PrepareThread(QarnAutoDlg* pDialog) {
  PrepareUpdate(*pDialog, &pDialog->settings_);
  platform::SendMessage(pDialog->Handle(), WM_PREPARE_DONE, 0, 0);
}

void QarnAutoDlg::UpdateThread(QarnAutoDlg* pDialog) {
  switch (RunUpdate(*pDialog, &pDialog->settings_, pDialog->Handle())) {
    case UpdateOutcome::kRefused:
    case UpdateOutcome::kDone:
      pDialog->FinishAndExit();
    case UpdateOutcome::kDownloadFailed:
    case UpdateOutcome::kInstallFailed:
      platform::SendMessage(pDialog->Handle(), WM_UPDATE_FAILED, 0, 0);
      return;
  }
}

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
  if (!bTerminal_) return;
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

void QarnAutoDlg::ShowDownload(const std::string& text, const DownProgress& progress, uint32_t dwNow) {
  if (!bTerminal_) return;
  if (progress.llDownloaded != llLastBytes_) {
    llLastBytes_ = progress.llDownloaded;
    dwLastByteTick_ = dwNow;
  }
  std::string line = text;
  // The design's line reads the same while nothing arrives; a player at a
  // terminal learns that the transfer stands still, and for how long.
  const uint32_t dwStill = dwNow - dwLastByteTick_;
  if (progress.bActive != 0 && dwStill >= kStallShown) {
    line += " - stalled for " + std::to_string(dwStill / 1000) + " s";
  }
  if (!bInPlace_) {
    // To a file or a pipe at most one line a second, but always the last.
    if (progress.bActive != 0 && bLineWritten_ && dwNow - dwLastLineTick_ < 1000) return;
    dwLastLineTick_ = dwNow;
    bLineWritten_ = true;
  }
  Show(line, true, progress.nPercent);
}

platform::LRESULT QarnAutoDlg::WindowProc(uint32_t uMsg, platform::WPARAM wParam, platform::LPARAM lParam) {
  switch (uMsg) {
    case platform::WM_LBUTTONDOWN:
    case platform::WM_KEYDOWN:
      // Clicks and keys on the dialog do nothing: the skin beneath is what
      // is dragged, and no key ends the update.
      return 0;
    case WM_DOWN_NOTIFY:
    case WM_INSTALL_PROGRESS:
    case WM_PREPARE_DONE:
    case WM_UPDATE_FAILED:
    case kShowStatus:
      return OnMessage(uMsg, wParam, lParam);
    case kFinish:
      OnOK();
      closed_.Set();
      return 1;
    default:
      return CStandardDialog::WindowProc(uMsg, wParam, lParam);
  }
}

platform::LRESULT QarnAutoDlg::OnMessage(uint32_t uMsg, platform::WPARAM wParam, platform::LPARAM lParam) {
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
      status_.SetTextColour(0xFFFFFF);
      status_.SetBounds(platform::Rect{210, 557, 210 + 685, 557 + 29});
      status_.SetText(platform::Utf8ToUtf16(line));
      mainBar_.SetPos(p->nPercent);
      ShowDownload(line, *p, dwNow);
      return 1;
    }
    case WM_INSTALL_PROGRESS:
      if (lParam != kInstallProgressTag) return 1;
      secondBar_.SetPos(static_cast<int>(wParam));
      Show("Installing: " + std::to_string(static_cast<int>(wParam)) + "%", true, static_cast<int>(wParam));
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
  status_.SetText(GetText(key));
  // A terminal shows it as a line, written by the dialog's own thread.
  if (bTerminal_) platform::PostMessage(GetSafeHwnd(), kShowStatus, 0, 0);
}

void QarnAutoDlg::OnPercentText(const std::u16string& text) { percent_.SetText(text); }

void QarnAutoDlg::OnSecondBarStyle(int nStyle) { secondBar_.SetStyle(nStyle); }

void QarnAutoDlg::OnInstallProgress(int nPercent) {
  platform::SendMessage(GetSafeHwnd(), WM_INSTALL_PROGRESS, static_cast<platform::WPARAM>(nPercent),
                        kInstallProgressTag);
}

void QarnAutoDlg::FinishAndExit() {
  if (bTerminal_) {
    if (bLineOpen_) std::fputc('\n', stderr);
    std::fflush(stderr);
    std::fflush(stdout);
    platform::ExitProcess(0);
  }
  if (std::this_thread::get_id() == windowThread_) {
    OnOK();
  } else if (platform::PostMessage(GetSafeHwnd(), kFinish, 0, 0)) {
    // The windows go through their own thread; a thread stuck elsewhere
    // must not keep the process alive.
    closed_.Wait(2000);
  }
  std::fflush(stdout);
  platform::ExitProcess(0);
}
