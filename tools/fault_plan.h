// Installs a fault plan for the life of the object, so a test cannot leave
// faults behind for the next one.
#pragma once

#include "platform/fault_injection.h"

namespace tools {

class CFaultPlan {
 public:
  explicit CFaultPlan(platform::FaultPlan plan) { platform::SetFileFaultsForTesting(std::move(plan)); }
  ~CFaultPlan() { platform::SetFileFaultsForTesting(nullptr); }
  CFaultPlan(const CFaultPlan&) = delete;
  CFaultPlan& operator=(const CFaultPlan&) = delete;
};

// A plan that fails every `op` on a path ending in `suffix` with `nErrno`,
// after nShortWrite bytes for writes.
inline platform::FaultPlan FailOn(platform::FileOp op, std::string suffix, int nErrno,
                                  size_t nShortWrite = 0) {
  return [op, suffix, nErrno, nShortWrite](platform::FileOp o, const std::string& path) {
    const bool bHit = o == op && path.size() >= suffix.size() &&
                      path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
    return bHit ? platform::Fault{nErrno, nShortWrite} : platform::Fault{};
  };
}

}  // namespace tools
