// Makes chosen file operations fail for the life of the object, so a test
// cannot leave faults behind for the next one.
#pragma once

#include "platform/env.h"

namespace tools {

class CFaultPlan {
 public:
  explicit CFaultPlan(platform::FaultPlan plan) : env_(platform::CurrentEnv(), std::move(plan)) {
    pPrevious_ = platform::SetEnvForTesting(&env_);
  }
  ~CFaultPlan() { platform::SetEnvForTesting(pPrevious_); }
  CFaultPlan(const CFaultPlan&) = delete;
  CFaultPlan& operator=(const CFaultPlan&) = delete;

 private:
  platform::CFaultEnv env_;
  platform::CEnv* pPrevious_;
};

// A plan that fails every `op` on a path ending in `suffix` with `error`,
// after nShortWrite bytes for writes.
inline platform::FaultPlan FailOn(platform::FileOp op, std::string suffix, platform::ErrorKind error,
                                  size_t nShortWrite = 0) {
  return [op, suffix, error, nShortWrite](platform::FileOp o, const std::string& path) {
    const bool bHit = o == op && path.size() >= suffix.size() &&
                      path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
    return bHit ? platform::Fault{error, nShortWrite} : platform::Fault{};
  };
}

}  // namespace tools
