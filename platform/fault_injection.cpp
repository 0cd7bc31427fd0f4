#include "platform/fault_injection.h"

#include <atomic>
#include <map>
#include <mutex>

namespace platform {
namespace {

std::mutex g_faultLock;
FaultPlan g_plan;                          // guarded by g_faultLock
std::map<intptr_t, std::string> g_opened;  // guarded by g_faultLock
std::atomic<bool> g_bPlanned{false};       // a plan is installed: the fast test

}  // namespace

void SetFileFaultsForTesting(FaultPlan plan) {
  std::lock_guard<std::mutex> lock(g_faultLock);
  g_bPlanned = static_cast<bool>(plan);
  g_plan = std::move(plan);
  g_opened.clear();
}

Fault InjectedFault(FileOp op, const std::string& path) {
  if (!g_bPlanned.load(std::memory_order_relaxed)) return Fault{};
  std::lock_guard<std::mutex> lock(g_faultLock);
  return g_plan ? g_plan(op, path) : Fault{};
}

void NoteOpenedPath(intptr_t h, const std::string& path) {
  if (!g_bPlanned.load(std::memory_order_relaxed)) return;
  std::lock_guard<std::mutex> lock(g_faultLock);
  g_opened[h] = path;
}

std::string OpenedPath(intptr_t h) {
  if (!g_bPlanned.load(std::memory_order_relaxed)) return std::string();
  std::lock_guard<std::mutex> lock(g_faultLock);
  auto it = g_opened.find(h);
  return it == g_opened.end() ? std::string() : it->second;
}

}  // namespace platform
