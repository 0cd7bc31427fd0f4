// The per-thread half of the crash filter, apart from the dump writer, so a
// program that only starts threads (the engine library) does not carry the
// writer's buffers.
#include <signal.h>
#include <sys/mman.h>

#include "platform/crash_dump.h"

namespace platform {
namespace {

// The alternate stack of a thread the platform started; disabled and freed
// when the thread ends.
struct CThreadCrashStack {
  void* pStack = nullptr;
  ~CThreadCrashStack() {
    if (pStack == nullptr) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    ::munmap(pStack, kThreadStackSize);
  }
  static constexpr size_t kThreadStackSize = 64 * 1024;
};

thread_local CThreadCrashStack t_crashStack;

}  // namespace

void PrepareThreadForCrashDump() {
  if (t_crashStack.pStack != nullptr) return;
  void* p = ::mmap(nullptr, CThreadCrashStack::kThreadStackSize, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return;
  stack_t stack{};
  stack.ss_sp = p;
  stack.ss_size = CThreadCrashStack::kThreadStackSize;
  if (::sigaltstack(&stack, nullptr) != 0) {
    ::munmap(p, CThreadCrashStack::kThreadStackSize);
    return;
  }
  t_crashStack.pStack = p;
}

}  // namespace platform
