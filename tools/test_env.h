// The machine as a test wants it, for as long as the object lives: answers
// to terminal prompts, a drive list, a process list, file faults. What is
// not set comes from the environment that was in use before.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/env.h"

namespace tools {

class CTestEnv : public platform::CEnvWrapper {
 public:
  CTestEnv() : CEnvWrapper(platform::CurrentEnv()) { pPrevious_ = platform::SetEnvForTesting(this); }
  ~CTestEnv() override { platform::SetEnvForTesting(pPrevious_); }
  CTestEnv(const CTestEnv&) = delete;
  CTestEnv& operator=(const CTestEnv&) = delete;

  // Each answers one line; false is the end of input.
  std::function<bool(std::string*)> answers;
  std::function<std::vector<platform::DriveInfo>()> drives;
  std::function<std::vector<platform::ProcessEntry>()> processes;
  // Time limits by name (see CEnv::TimeLimit); the others keep theirs.
  std::map<std::string, uint32_t> timeLimits;

  bool ReadAnswerLine(std::string* pLine) override {
    return answers ? answers(pLine) : CEnvWrapper::ReadAnswerLine(pLine);
  }
  std::vector<platform::DriveInfo> FixedDrives() override {
    return drives ? drives() : CEnvWrapper::FixedDrives();
  }
  std::vector<platform::ProcessEntry> Processes() override {
    return processes ? processes() : CEnvWrapper::Processes();
  }
  uint32_t TimeLimit(const std::string& name, uint32_t dwDefault) override {
    const auto it = timeLimits.find(name);
    return it != timeLimits.end() ? it->second : CEnvWrapper::TimeLimit(name, dwDefault);
  }

 private:
  platform::CEnv* pPrevious_;
};

}  // namespace tools
