#include "engine/down_driver.h"

#include <cstring>

#include "engine/down_engine.h"
#include "engine/engine_log.h"
#include "engine/notify_timer.h"
#include "platform/text.h"

namespace {

void Note(NoteLog log, const char* szText) {
  if (log == NoteLog::kRunLog) {
    AppendRunLog(platform::Utf8ToUtf16(szText));
  } else {
    DebugLog("%s", szText);
  }
}

}  // namespace

bool CheckCallArguments(const CDownBase& task, const char* szUrl, char* szPath, NoteLog log) {
  if (task.progress.bActive) {
    Note(log, "Init error\n");
    return false;
  }
  if (szUrl == nullptr || szPath == nullptr) {
    Note(log, "input null\n");
    return false;
  }
  if (szPath[0] == '\0') {
    Note(log, "input szPath error\n");
    return false;
  }
  const size_t nPath = std::strlen(szPath);
  if (szPath[nPath - 1] != '\\' && szPath[nPath - 1] != '/') std::strcat(szPath, "\\");
  if (!JudgeDir(szPath)) {
    if (log == NoteLog::kRunLog) {
      Note(log, "begin judgedir");
      Note(log, szPath);
    }
    Note(log, "JudgeDir error\n");
    return false;
  }
  return true;
}

UrlList SplitUrlList(std::string_view text) {
  UrlList list;
  list.bList = text.find("\r\n") != std::string_view::npos;
  size_t end;
  while ((end = text.find("\r\n")) != std::string_view::npos) {
    list.lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 2);
  }
  list.rest = text;
  return list;
}

Segment EqualSegment(int64_t llSize, int32_t nParts, int32_t k) {
  if (nParts <= 0 || llSize <= 0) return Segment{};
  const int64_t llEach = llSize / nParts;
  const int64_t llStart = k * llEach;
  return Segment{llStart, k == nParts - 1 ? llSize - llStart : llEach};
}

void SendFinalNotification(CDownBase& task, bool bSuccess, const FinalNotice& how) {
  StopNotifyTimer(task);
  DownProgress& notify = task.notify;
  if (how.bFromLive) {
    std::lock_guard<std::mutex> lock(task.progress.lock);
    CopyProgressFields(notify, task.progress);
    notify.nPercent = notify.llTotal > 0 ? static_cast<int32_t>(static_cast<double>(notify.llDownloaded) /
                                                                static_cast<double>(notify.llTotal) * 100)
                                         : 0;
  }
  notify.bActive = 0;
  notify.dSpeed = 0;
  notify.wHours = notify.wMinutes = notify.wSeconds = 0;
  if (bSuccess) {
    notify.llDownloaded = notify.llTotal;
    notify.nPercent = 100;
  }
  platform::SendMessage(task.hWnd, WM_DOWN_NOTIFY, reinterpret_cast<platform::WPARAM>(&notify), how.lTag);
}
