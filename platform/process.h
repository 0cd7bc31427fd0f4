// Starting and waiting for other processes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace platform {

using ProcessId = int;
inline constexpr ProcessId kInvalidProcess = -1;

// Starts the program with the argument vector (argv[0] included) in the
// given working folder ("" keeps ours), inheriting the environment. Returns
// kInvalidProcess on failure, with the reason in *pWhy when given.
ProcessId StartProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::string& workingFolder, Outcome* pWhy = nullptr);

// Starts the program in a session of its own, so it outlives us and our
// terminal; nobody waits for it. kInvalidProcess on failure, as StartProcess.
ProcessId StartDetachedProcess(const std::string& program, const std::vector<std::string>& args,
                               const std::string& workingFolder, Outcome* pWhy = nullptr);

// The full path of an executable program found on PATH; a name with a "/"
// is taken as it is. "" when there is none.
std::string FindProgramOnPath(const std::string& name);

// Waits for the process to end; its exit code, 128 + the signal number when
// a signal ended it, or -1 on failure.
int WaitProcess(ProcessId pid);
// True while the child runs; once it has ended, false with its exit code
// (as WaitProcess gives it) in *pCode, and the child is gone.
bool PollProcess(ProcessId pid, int* pCode);

struct ProcessEntry {
  ProcessId pid;
  // The last component of the executable's path; for a Windows program
  // under Wine, the last component of the path it was started as (after
  // "\" or "/"), else its thread name.
  std::string exeName;
};

// Every process that can be seen, in process-table order, as the current
// environment (env.h) reports it. On the machine, when the environment
// variable kProcessScopeVariable names a parent, only that parent's children
// and the processes started with the same value of that variable (their
// descendants, whoever adopted them since) are seen: a test confines the
// process table of an updater it starts as a process of its own, which no
// injected environment can reach.
std::vector<ProcessEntry> SnapshotProcesses();
inline constexpr const char* kProcessScopeVariable = "QARNAUTO_PROCESS_SCOPE";

ProcessId GetCurrentProcessId();

// An anonymous pipe whose ends close with their objects; no child inherits
// either end unless it is handed over as a standard handle.
struct Pipe {
  CFile readEnd;
  CFile writeEnd;
};
// Fails when no pipe can be made.
Outcome CreatePipe(Pipe* pPipe);
// Reads up to n bytes from a pipe or terminal; the count, 0 at end, -1 on
// an error.
int64_t ReadPipe(FileHandle h, void* buffer, size_t n);

// What a child receives as its standard input, output and error: an open
// file, pipe end or terminal of ours (which we keep), or the invalid handle
// for the one we have ourselves.
struct StandardHandles {
  FileHandle in, out, err;
};

// StartProcess with the child's standard handles as given.
ProcessId StartProcessWithStdio(const std::string& program, const std::vector<std::string>& args,
                                const std::string& workingFolder, const StandardHandles& stdio,
                                Outcome* pWhy = nullptr);

// Ends the own process at once with the code, without running exit handlers.
[[noreturn]] void ExitProcess(int nCode);

// Ends the process at once (it gets no chance to clean up). False when it
// cannot be signalled.
bool TerminateProcess(ProcessId pid);

// Which step of enabling a privilege failed, if one did.
enum class PrivilegeResult { kEnabled, kNoToken, kUnknownPrivilege, kNotAdjusted };
// Enables the named privilege ("SeDebugPrivilege") in the own process's
// token, leaving its others as they are. A system without such privileges
// (Linux) has nothing to enable: kEnabled.
PrivilegeResult EnablePrivilege(const char* szName);

// The path of the running executable.
std::string GetModuleFileName();
// The folder of the running executable, ending in a separator.
std::string GetModuleFolder();

}  // namespace platform
