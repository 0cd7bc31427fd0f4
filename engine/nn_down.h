/* The download engine's public interface: three C entry points, the progress
 * record whose address they send, the notification message, and notification
 * targets for programs that have no window to receive it.
 *
 * Text arguments are zero-terminated 8-bit (UTF-8) text. szPath names a
 * folder. A download call blocks its caller until the task has ended, so it
 * must not run on the thread that owns the notification window.
 *
 * This header compiles as C and as C++. */
#ifndef QARNAUTO_NN_DOWN_H_
#define QARNAUTO_NN_DOWN_H_

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#include <mutex>
#else
#include <stddef.h>
#include <stdint.h>
#endif

/* Sent to the caller's window: wParam is the address of a DownProgress,
 * lParam 999 for progress (and the end of a list task), 0 for the end of a
 * single-file task. */
enum { WM_DOWN_NOTIFY = 1324 };

#ifdef __cplusplus

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

#else

/* The 44 bytes a receiver may read; the engine's record goes on beyond them
 * with fields of its own. */
typedef struct DownProgress {
  int32_t bActive;      /* 1 while running, 0 in the final notification */
  int32_t nPercent;     /* llDownloaded * 100 / llTotal, truncated */
  double dSpeed;        /* bytes per millisecond, last measuring interval */
  int64_t llDownloaded; /* bytes on disk so far */
  int64_t llTotal;      /* -1 until known */
  int16_t wHours;       /* estimated time left */
  int16_t wMinutes;
  int16_t wSeconds;
  int16_t wReserved;
  int32_t nId; /* the caller's task id */
} DownProgress;

_Static_assert(offsetof(DownProgress, dSpeed) == 8, "DownProgress layout");
_Static_assert(offsetof(DownProgress, llTotal) == 24, "DownProgress layout");
_Static_assert(offsetof(DownProgress, wSeconds) == 36, "DownProgress layout");
_Static_assert(offsetof(DownProgress, nId) == 40, "DownProgress layout");

#endif

/* One file from several mirrors (URLs each ended by "\r\n") into the folder
 * szPath. 1 when the file is complete, 0 on failure or after a stop. */
int32_t NN_Down_n1(const char* szUrl, const char* szPath, uintptr_t hWnd, int32_t nId,
                   uint32_t uPeriod);

/* A list of files (one URL per "\r\n"-ended line) into the folder szPath. 1
 * all complete, 0 failure, 2 a partial file cannot be created, -199 stopped. */
int32_t NN_Down_nn(const char* szUrl, const char* szPath, uintptr_t hWnd, int32_t nId,
                   uint32_t uPeriod);

/* Stops the first running task with this id and returns 1 once it has ended;
 * 0 when no running task has the id. */
int32_t NN_Stop(int32_t nId);

/* What a notification target calls instead of a window procedure: uMsg is
 * WM_DOWN_NOTIFY, wParam the address of the task's DownProgress (valid for
 * the call's duration only), lParam 999 or 0 as a window would receive. It
 * runs on an engine thread (the notification timer's, or the download
 * call's for the final notification), never on two threads at once for one
 * task, and must return promptly: the engine waits for it. */
typedef void (*NN_NotifyProc)(void* pUser, uint32_t uMsg, uintptr_t wParam, intptr_t lParam);

/* Makes a notification target: pass the handle as hWnd to NN_Down_n1 or
 * NN_Down_nn and pfnNotify is called with pUser for each notification. 0 when
 * pfnNotify is null. Any thread. */
uintptr_t NN_CreateNotifyTarget(NN_NotifyProc pfnNotify, void* pUser);

/* Destroys a target: waits for a delivery in progress on another thread to
 * return, and drops every later notification, so pUser may be freed once it
 * has returned. Any thread, the callback's own included. */
void NN_DestroyNotifyTarget(uintptr_t hTarget);

#ifdef __cplusplus
}
#endif

#endif /* QARNAUTO_NN_DOWN_H_ */
