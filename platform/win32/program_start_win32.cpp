#include "platform/error.h"
#include "platform/file.h"
#include "platform/program_start.h"

namespace platform {

bool ProgramCommand(const std::string& program, const std::vector<std::string>& args,
                    std::vector<std::string>* pCommand, std::string* pNote) {
  pCommand->clear();
  pNote->clear();
  if (ClassifyProgram(program) == ProgramKind::kMissing) {
    SetLastErrorText(program + " is missing");
    return false;
  }
  // Windows starts every program itself.
  pCommand->push_back(program);
  pCommand->insert(pCommand->end(), args.begin(), args.end());
  return true;
}

ProcessId StartProgram(const std::string& program, const std::vector<std::string>& args,
                       const std::string& workingFolder, std::string* pNote) {
  std::vector<std::string> command;
  if (!ProgramCommand(program, args, &command, pNote)) return kInvalidProcess;
  return StartDetachedProcess(command.front(), command, workingFolder);
}

ProcessId StartProgramWithStdio(const std::string& program, const std::vector<std::string>& args,
                                const StandardHandles& stdio, std::string* pNote) {
  std::vector<std::string> command;
  if (!ProgramCommand(program, args, &command, pNote)) return kInvalidProcess;
  return StartProcessWithStdio(command.front(), command, "", stdio);
}

}  // namespace platform
