// Opening TCP connections with a bounded wait, and receiving in small steps.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/socket.h"
#include "platform/stream.h"

struct DownProgress;

// Stop and hold flags: any non-zero value means "give up at once". Other
// threads raise them; the routines here only read them.
using StopFlag = std::atomic<int32_t>;

// Called after every successful receive with the bytes just received.
using OnBytesFn = int32_t (*)(int32_t nBytes, DownProgress* pProgress);

// Sleeps up to dwMilliseconds, returning early once a flag is raised (pHold
// may be null).
void SleepUnlessRaised(uint32_t dwMilliseconds, const StopFlag* pStop, const StopFlag* pHold);

// Waits up to dwMilliseconds for the socket to become readable, looking at
// the flags every 100 ms: 1 readable, 0 time-out or a flag raised, -1 error.
int WaitReadableUnlessRaised(platform::SocketHandle s, uint32_t dwMilliseconds,
                             const StopFlag* pStop, const StopFlag* pHold);
int WaitReadableUnlessRaised(platform::CStream& stream, uint32_t dwMilliseconds, const StopFlag* pStop,
                             const StopFlag* pHold);

// Why a connect failed, for notes a person reads.
enum class ConnFailure { kNone, kUnresolved, kRefused, kNoAnswer, kSocket, kStopped };
const char* DescribeConnFailure(ConnFailure why);

// Where a connection routine notes its attempts and failures: the run log,
// which people read (the size probe and the list download), or the engine
// log (the single-file download, whose connections come and go by design).
enum class NoteLog { kRunLog, kEngineLog };

// The transfers' connection: attempts of 8 s, 15 of them.
inline constexpr int32_t kConnectSeconds = 8;
inline constexpr int32_t kConnectAttempts = 15;

// Connects to szHost:nPort with up to nAttempts attempts of nSeconds each,
// ending early once pStop or pHold (may be null) is raised. Returns 0 with
// the connected, blocking socket in *pSocket (whose send and receive calls
// then time out after nSeconds), or -1 with the reason in *pWhy (may be
// null). An attempt that times out costs nSeconds; a refused one (nothing
// listens) waits half a second before the next, so a server that is down
// fails within seconds (15 attempts: 7.5 s) while one that is restarting
// still gets a few.
int32_t ConnWithTime(platform::CSocket* pSocket, int32_t nSeconds, int32_t nAttempts,
                     const char* szHost, int32_t nPort, const StopFlag* pStop,
                     const StopFlag* pHold, NoteLog log, ConnFailure* pWhy = nullptr);

// Receives up to nCount bytes into pBuffer: each receive takes what has
// arrived (up to 256 KiB) and reports it to the callback, waiting up to
// nSeconds for the first byte while looking at the flags (pHold may be
// null) every 100 ms. Returns the bytes received before the count was
// reached, the peer closed, a wait timed out or a flag was raised.
int32_t RecvN(platform::SocketHandle s, char* pBuffer, int32_t nCount, int nFlags,
              int32_t nSeconds, const StopFlag* pStop, const StopFlag* pHold,
              OnBytesFn pfnOnBytes, DownProgress* pProgress);
// The same over a stream, in clear or TLS (HTTP).
int32_t RecvN(platform::CStream& stream, char* pBuffer, int32_t nCount, int32_t nSeconds, const StopFlag* pStop,
              const StopFlag* pHold, OnBytesFn pfnOnBytes, DownProgress* pProgress);

// Opens TLS for szHost on the connected stream, within the connect time of
// nSeconds; false with the reason noted in *pWhy ("" when stopped).
bool StartTlsUnlessRaised(platform::CStream* pStream, const char* szHost, int32_t nSeconds, const StopFlag* pStop,
                          std::string* pWhy);
