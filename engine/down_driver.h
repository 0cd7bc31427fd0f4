// The steps the single-file and the list driver share: the call's argument
// checks, the URL list's lines, equal segments, the restart limit and the
// final notification.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/connection.h"
#include "engine/down_task.h"

// Checks a download call's arguments: the task not yet running, both texts
// given, a folder that exists or can be made (a separator is appended to the
// call's buffer, which always has room for it). False after noting why in
// the log: the run log (read by people) also names the folder.
bool CheckCallArguments(const CDownBase& task, const char* szUrl, char* szPath, NoteLog log);

// The lines of a URL list: each ended by "\r\n"; what follows the last line
// end is the rest. Without any line end the list is not one (bList false).
struct UrlList {
  bool bList = false;
  std::vector<std::string_view> lines;
  std::string_view rest;
};
UrlList SplitUrlList(std::string_view text);

// Part k (0-based) of nParts equal segments of a file: the last takes the
// remainder, so the parts always cover the file exactly.
struct Segment {
  int64_t llStart = 0;
  int64_t llLength = 0;
};
Segment EqualSegment(int64_t llSize, int32_t nParts, int32_t k);

// The most connection restarts one transfer loop makes.
inline constexpr int32_t kMaxRestarts = 2147483647;

// How the end of a download is told to the notification window.
struct FinalNotice {
  // Taken from the live progress (the list driver), or left as the timer's
  // last report had it (the single-file driver).
  bool bFromLive;
  platform::LPARAM lTag;  // the message's lParam
};
inline constexpr FinalNotice kSingleFileNotice{false, 0};
inline constexpr FinalNotice kListNotice{true, 999};

// Stops the notification timer and sends the final report: inactive, no
// speed or time left, and complete when bSuccess. Sent, not posted: the
// record lives in the task, which goes as soon as the call returns.
void SendFinalNotification(CDownBase& task, bool bSuccess, const FinalNotice& how);
