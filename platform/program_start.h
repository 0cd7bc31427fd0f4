// Starting a program the way the system runs it. Here a native program runs
// as it is and a Windows program (a PE file) runs through Wine; on Windows
// every program is started directly.
#pragma once

#include <string>
#include <vector>

#include "platform/process.h"

namespace platform {

enum class ProgramKind { kMissing, kNative, kWindows32, kWindows64 };

// Looks at the file: an "MZ" header whose e_lfanew points at a "PE\0\0"
// signature is a Windows program, its machine field telling 32 from 64 bit.
ProgramKind ClassifyProgram(const std::string& path);

// The argument vector that starts the program with the arguments (which do
// not include argv[0]). Fails when it cannot be started, with the reason for
// the player and the run log. *pNote receives a warning that does not stop
// the start ("" when there is none).
Outcome ProgramCommand(const std::string& program, const std::vector<std::string>& args,
                       std::vector<std::string>* pCommand, std::string* pNote);

// Starts the program with the arguments in the folder, detached so that it
// outlives us. kInvalidProcess when it cannot be started, with the reason in
// *pWhy when given; *pNote as ProgramCommand gives it.
ProcessId StartProgram(const std::string& program, const std::vector<std::string>& args,
                       const std::string& workingFolder, std::string* pNote,
                       Outcome* pWhy = nullptr);

// Starts the program with the arguments, its standard handles as given, and
// waits for nobody. kInvalidProcess when it cannot be started, as
// StartProgram.
ProcessId StartProgramWithStdio(const std::string& program, const std::vector<std::string>& args,
                                const StandardHandles& stdio, std::string* pNote,
                                Outcome* pWhy = nullptr);

}  // namespace platform
