#include "tools/fault_plan.h"

#include <map>
#include <mutex>

namespace tools {

struct CFaultEnv::State {
  std::mutex lock;
  FaultPlan plan;                          // guarded by lock
  std::map<intptr_t, std::string> opened;  // guarded by lock
};

CFaultEnv::CFaultEnv(platform::CEnv& target, FaultPlan plan)
    : CEnvWrapper(target), pState_(std::make_shared<State>()) {
  pState_->plan = std::move(plan);
}

platform::Fault CFaultEnv::FileFault(platform::FileOp op, const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(pState_->lock);
    if (pState_->plan) {
      const platform::Fault fault = pState_->plan(op, path);
      if (fault.error != platform::ErrorKind::kNone) return fault;
    }
  }
  return Target().FileFault(op, path);
}

void CFaultEnv::NoteOpened(intptr_t h, const std::string& path) {
  std::lock_guard<std::mutex> lock(pState_->lock);
  pState_->opened[h] = path;
}

std::string CFaultEnv::OpenedPath(intptr_t h) {
  std::lock_guard<std::mutex> lock(pState_->lock);
  auto it = pState_->opened.find(h);
  return it == pState_->opened.end() ? Target().OpenedPath(h) : it->second;
}

}  // namespace tools
