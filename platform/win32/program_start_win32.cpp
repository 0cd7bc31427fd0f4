#include "platform/error.h"
#include "platform/file.h"
#include "platform/program_start.h"

namespace platform {

Outcome ProgramCommand(const std::string& program, const std::vector<std::string>& args,
                       std::vector<std::string>* pCommand, std::string* pNote) {
  pCommand->clear();
  pNote->clear();
  if (ClassifyProgram(program) == ProgramKind::kMissing)
    return Outcome::Failure(program + " is missing");
  // Windows starts every program itself.
  pCommand->push_back(program);
  pCommand->insert(pCommand->end(), args.begin(), args.end());
  return Outcome::OK();
}

}  // namespace platform
