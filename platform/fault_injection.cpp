#include <atomic>

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

}  // namespace platform
