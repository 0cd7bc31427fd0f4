// Crashes on purpose after installing the crash filter, for the crash-dump
// test: crash_probe segv|abort.
#include <cstdlib>
#include <cstring>

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

int main(int argc, char** argv) {
  platform::InstallCrashDumpHandler("ValdrisStartup.dmp");
  if (argc > 1 && std::strcmp(argv[1], "abort") == 0) std::abort();
  CrashHere(3);
  return 0;
}
