// Crashes on purpose after installing the crash filter, for the crash-dump
// test: crash_probe segv|abort|overflow (a stack overflow on a worker).
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/crash_dump.h"
#include "platform/thread.h"

namespace {
// Volatile, so no optimiser can prove the store goes nowhere and drop it.
int* volatile g_nowhere = nullptr;
volatile int g_sink = 0;

__attribute__((noinline)) void CrashHere(int nDepth) {
  if (nDepth == 0) {
    *g_nowhere = 42;
    return;
  }
  CrashHere(nDepth - 1);
  // Work after the call keeps it a real call, with a frame of its own.
  g_sink = g_sink + 1;
}

// Recurses until the stack runs out; the volatile bound hides that from
// the compiler.
volatile int g_limit = 1 << 30;

__attribute__((noinline)) int OverflowHere(int nDepth) {
  volatile char pad[512];
  pad[0] = static_cast<char>(nDepth);
  if (nDepth >= g_limit) return 0;
  const int n = OverflowHere(nDepth + 1) + pad[0];
  g_sink = n;
  return n;
}
}  // namespace

__attribute__((noinline)) void IdleWorker() {
  for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

int main(int argc, char** argv) {
  platform::InstallCrashDumpHandler("ValdrisStartup.dmp");
  // Two more threads, so the dump must hold all three.
  std::thread(IdleWorker).detach();
  std::thread(IdleWorker).detach();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (argc > 1 && std::strcmp(argv[1], "abort") == 0) std::abort();
  if (argc > 1 && std::strcmp(argv[1], "overflow") == 0) {
    platform::StartDetachedThread([] { OverflowHere(0); });
    for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  CrashHere(3);
  return 0;
}
