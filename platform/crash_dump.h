// The crash filter: on a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE,
// SIGABRT) it writes a minidump of the process (system information, every
// thread with its context and stack, the crashing one first, the loaded
// modules, the exception and the memory map) and ends the process quietly.
// A dump that cannot be written whole is removed rather than left with holes.
#pragma once

namespace platform {

// Installs the handlers, on an alternate stack, for the rest of the
// process's life. The dump goes to `fileName` in the working folder at the
// time of the crash, replacing an earlier one. The handler uses only calls
// that are safe in a signal handler.
void InstallCrashDumpHandler(const char* fileName);

// Gives the calling thread an alternate signal stack of its own (freed when
// the thread ends), so a stack overflow on it still leaves a dump. Every
// thread the platform starts calls it; harmless when called twice.
void PrepareThreadForCrashDump();

}  // namespace platform
