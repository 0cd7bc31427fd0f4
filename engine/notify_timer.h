// The notification timer of a task: samples the live progress at the
// caller's period, works out speed and time left, and sends the snapshot to
// the caller's window.
#pragma once

#include <cstdint>

#include "engine/down_task.h"

// One tick: copies the live progress into notify, measures when more than
// 1000 ms have passed since the last measurement, and sends WM_DOWN_NOTIFY
// (lParam 999) unless nothing arrived and nothing was measured. Runs on the
// timer's thread; reads the live record only under its lock.
void OnNotifyTimer(CDownBase& task);

// Starts the task's timer for its hWnd; false when it cannot be made.
bool StartNotifyTimer(CDownBase& task, uint32_t uPeriod);

// Stops it; a tick in progress is waited for. Nothing when none runs.
void StopNotifyTimer(CDownBase& task);
