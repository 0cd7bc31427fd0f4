// Crashes on purpose after installing the crash filter, for the crash-dump
// test: crash_probe segv|abort.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/crash_dump.h"

namespace {
volatile int* g_nowhere = nullptr;

__attribute__((noinline)) void CrashHere(int nDepth) {
  if (nDepth == 0) {
    *g_nowhere = 42;
    return;
  }
  CrashHere(nDepth - 1);
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
  CrashHere(3);
  return 0;
}
