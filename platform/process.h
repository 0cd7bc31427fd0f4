// Starting and waiting for other processes.
#pragma once

#include <string>
#include <vector>

namespace platform {

using ProcessId = int;
inline constexpr ProcessId kInvalidProcess = -1;

// Starts the program with the argument vector (argv[0] included) in the
// given working folder ("" keeps ours), inheriting the environment. Returns
// kInvalidProcess on failure.
ProcessId StartProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::string& workingFolder);

// Waits for the process to end; its exit code, 128 + the signal number when
// a signal ended it, or -1 on failure.
int WaitProcess(ProcessId pid);

// Ends the process at once (it gets no chance to clean up). False when it
// cannot be signalled.
bool TerminateProcess(ProcessId pid);

// The path of the running executable.
std::string GetModuleFileName();

}  // namespace platform
