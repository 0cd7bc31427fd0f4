#include "platform/env.h"

#include <iostream>

#include "platform/machine.h"

namespace platform {
namespace {

class CMachineEnv final : public CEnv {
 public:
  Fault FileFault(FileOp, const std::string&) override { return Fault{}; }
  void NoteOpened(intptr_t, const std::string&) override {}
  std::string OpenedPath(intptr_t) override { return std::string(); }
  std::vector<ProcessEntry> Processes() override { return MachineProcessSnapshot(); }
  std::vector<DriveInfo> FixedDrives() override { return MachineFixedDrives(); }
  bool ReadAnswerLine(std::string* pLine) override {
    return static_cast<bool>(std::getline(std::cin, *pLine));
  }
  uint32_t TimeLimit(const std::string&, uint32_t dwDefault) override { return dwDefault; }
};

}  // namespace

CEnv& MachineEnv() {
  static CMachineEnv env;
  return env;
}

}  // namespace platform
