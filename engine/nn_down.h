// The download engine's public interface: three C entry points, the progress
// record whose address they send, and the notification message.
//
// Text arguments are zero-terminated 8-bit (UTF-8) text. A download call blocks
// its caller until the task has ended, so it must not run on the thread that
// owns the notification window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

// Sent to the caller's window: wParam is the address of a DownProgress,
// lParam 999 for progress (and the end of a list task), 0 for the end of a
// single-file task.
inline constexpr uint32_t WM_DOWN_NOTIFY = 1324;

// A receiver reads the bytes at offsets 0 to 43 only; the rest is the
// engine's own.
struct DownProgress {
  int32_t bActive = 0;       // 1 while running, 0 in the final notification
  int32_t nPercent = 0;      // llDownloaded * 100 / llTotal, truncated
  double dSpeed = 0;         // bytes per millisecond, last measuring interval
  int64_t llDownloaded = 0;  // guarded by lock in the live record
  int64_t llTotal = -1;      // -1 until known
  int16_t wHours = 0;        // estimated time left
  int16_t wMinutes = 0;
  int16_t wSeconds = 0;
  int16_t wReserved = 0;
  int32_t nId = 0;  // the caller's task id
  uint8_t bLockReady = 1;
  std::mutex lock;

  DownProgress() = default;
  DownProgress(const DownProgress&) = delete;
  DownProgress& operator=(const DownProgress&) = delete;
};

static_assert(offsetof(DownProgress, bActive) == 0);
static_assert(offsetof(DownProgress, nPercent) == 4);
static_assert(offsetof(DownProgress, dSpeed) == 8);
static_assert(offsetof(DownProgress, llDownloaded) == 16);
static_assert(offsetof(DownProgress, llTotal) == 24);
static_assert(offsetof(DownProgress, wHours) == 32);
static_assert(offsetof(DownProgress, wMinutes) == 34);
static_assert(offsetof(DownProgress, wSeconds) == 36);
static_assert(offsetof(DownProgress, nId) == 40);
static_assert(offsetof(DownProgress, bLockReady) == 44);
static_assert(offsetof(DownProgress, lock) >= 48);

extern "C" {

// One file from several mirrors (URLs each ended by "\r\n") into szPath.
// 1 when the file is complete, 0 on failure or after a stop.
int32_t NN_Down_n1(const char* szUrl, const char* szPath, uintptr_t hWnd, int32_t nId,
                   uint32_t uPeriod);

// A list of files (one URL per "\r\n"-ended line) into szPath. 1 all complete,
// 0 failure, 2 a partial file cannot be created, -199 stopped.
int32_t NN_Down_nn(const char* szUrl, const char* szPath, uintptr_t hWnd, int32_t nId,
                   uint32_t uPeriod);

// Stops the first running task with this id and returns 1 once it has ended;
// 0 when no running task has the id.
int32_t NN_Stop(int32_t nId);
}
