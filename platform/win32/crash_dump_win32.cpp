#include <windows.h>
#include <dbghelp.h>
#include "platform/win32/win32_prelude.h"

#include "platform/crash_dump.h"

namespace platform {
namespace {

wchar_t g_fileName[MAX_PATH] = L"";  // set once, before any crash

LONG WINAPI WriteDump(EXCEPTION_POINTERS* pException) {
  const HANDLE file = ::CreateFileW(g_fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    MINIDUMP_EXCEPTION_INFORMATION info{};
    info.ThreadId = ::GetCurrentThreadId();
    info.ExceptionPointers = pException;
    info.ClientPointers = FALSE;
    const BOOL ok = ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file,
                                        MiniDumpNormal, &info, nullptr, nullptr);
    ::CloseHandle(file);
    // A dump that could not be written whole is removed, not left with holes.
    if (!ok) ::DeleteFileW(g_fileName);
  }
  // Ends the process quietly, without the system's error box.
  ::TerminateProcess(::GetCurrentProcess(), 0);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void InstallCrashDumpHandler(const char* fileName) {
  ::MultiByteToWideChar(CP_UTF8, 0, fileName, -1, g_fileName, MAX_PATH - 1);
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  ::SetUnhandledExceptionFilter(WriteDump);
}

// The filter serves every thread.
void PrepareThreadForCrashDump() {}

}  // namespace platform
