// Makes chosen file operations fail for the life of the object, so a test
// cannot leave faults behind for the next one.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/env.h"

namespace tools {

// Decides the fault of one call: the operation and the path it concerns.
using FaultPlan = std::function<platform::Fault(platform::FileOp op, const std::string& path)>;

// Makes the file operations the plan names fail: a failed rename, a short
// write, a full disk (ENOSPC), a failed flush. Everything else goes to the
// target.
class CFaultEnv : public platform::CEnvWrapper {
 public:
  CFaultEnv(platform::CEnv& target, FaultPlan plan);
  platform::Fault FileFault(platform::FileOp op, const std::string& path) override;
  void NoteOpened(intptr_t h, const std::string& path) override;
  std::string OpenedPath(intptr_t h) override;

 private:
  struct State;
  std::shared_ptr<State> pState_;
};

class CFaultPlan {
 public:
  explicit CFaultPlan(FaultPlan plan) : env_(platform::CurrentEnv(), std::move(plan)) {
    pPrevious_ = platform::SetEnvForTesting(&env_);
  }
  ~CFaultPlan() { platform::SetEnvForTesting(pPrevious_); }
  CFaultPlan(const CFaultPlan&) = delete;
  CFaultPlan& operator=(const CFaultPlan&) = delete;

 private:
  CFaultEnv env_;
  platform::CEnv* pPrevious_;
};

// A plan that fails every `op` on a path ending in `suffix` with `error`,
// after nShortWrite bytes for writes.
inline FaultPlan FailOn(platform::FileOp op, std::string suffix, platform::ErrorKind error,
                        size_t nShortWrite = 0) {
  return [op, suffix, error, nShortWrite](platform::FileOp o, const std::string& path) {
    const bool bHit = o == op && path.size() >= suffix.size() &&
                      path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
    return bHit ? platform::Fault{error, nShortWrite} : platform::Fault{};
  };
}

}  // namespace tools
