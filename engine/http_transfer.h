// The HTTP side of a download connection and the HTTP size probe.
#pragma once

#include <cstdint>

#include "engine/down_task.h"

// Sends "GET path" with a Range for offset..offset+length-1 (none when length
// is 0) in one send. Always 0.
int32_t SendGetRequest(platform::CStream& s, const char* szHost, const char* szPath,
                       int64_t llOffset, int64_t llLength);

// Sum of the sizes of the URLs in the "\r\n"-separated text, a failed probe
// counting -1; -1 when the engine is not ready.
int64_t GetUrlSize(const char* szText, const StopFlag* pStop);

// Content-Length of the URL, following up to kMaxSizeRedirects permanent
// redirects; -1 on any failure (including a length that is not a number or
// is 2 GiB or more).
int64_t HttpGetSize(const char* szUrl, const StopFlag* pStop);
inline constexpr int kMaxSizeRedirects = 5;

// Connection thread procedures. Each fills the rest of the record's segment
// from its server and sets nState 0 once the segment is complete; on any
// failure nState stays as it was and the driver restarts the connection.
// N1: the single-file driver's (hold flag, speed, retry delay).
// NN: the list driver's (size-header slot, fixed 500 ms start delay).
int32_t HttpDownThreadN1(DownThreadInfo* pInfo);
int32_t HttpDownThreadNN(DownThreadInfo* pInfo);
