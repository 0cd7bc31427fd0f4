#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "platform/env.h"

namespace platform {
namespace {

std::atomic<CEnv*> g_pEnv{nullptr};  // null: the machine

}  // namespace

CEnv& CurrentEnv() {
  CEnv* pEnv = g_pEnv.load(std::memory_order_acquire);
  return pEnv ? *pEnv : MachineEnv();
}

CEnv* SetEnvForTesting(CEnv* pEnv) {
  CEnv* pPrevious = g_pEnv.exchange(pEnv == &MachineEnv() ? nullptr : pEnv);
  return pPrevious ? pPrevious : &MachineEnv();
}

Fault InjectedFault(FileOp op, const std::string& path) { return CurrentEnv().FileFault(op, path); }

void NoteOpenedPath(intptr_t h, const std::string& path) { CurrentEnv().NoteOpened(h, path); }

std::string OpenedPath(intptr_t h) { return CurrentEnv().OpenedPath(h); }

struct CFaultEnv::State {
  std::mutex lock;
  FaultPlan plan;                          // guarded by lock
  std::map<intptr_t, std::string> opened;  // guarded by lock
};

CFaultEnv::CFaultEnv(CEnv& target, FaultPlan plan) : CEnvWrapper(target), pState_(std::make_shared<State>()) {
  pState_->plan = std::move(plan);
}

Fault CFaultEnv::FileFault(FileOp op, const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(pState_->lock);
    if (pState_->plan) {
      const Fault fault = pState_->plan(op, path);
      if (fault.error != ErrorKind::kNone) return fault;
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

}  // namespace platform
