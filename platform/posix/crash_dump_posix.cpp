#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <ucontext.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "platform/crash_dump.h"

namespace platform {
namespace {

// Everything the handler needs is static: no allocation after a crash.
char g_fileName[256];
alignas(16) char g_altStack[64 * 1024];
char g_maps[512 * 1024];
size_t g_mapsSize = 0;

constexpr uint32_t kThreadListStream = 3;
constexpr uint32_t kModuleListStream = 4;
constexpr uint32_t kMemoryListStream = 5;
constexpr uint32_t kExceptionStream = 6;
constexpr uint32_t kSystemInfoStream = 7;
constexpr uint32_t kMiscInfoStream = 15;
constexpr uint32_t kLinuxMapsStream = 0x47670009;
constexpr uint32_t kStreams = 7;
constexpr uint32_t kContextSize = 1232;  // the AMD64 thread context
constexpr uint64_t kMaxStack = 256 * 1024;
constexpr int kMaxModules = 512;
constexpr int kMaxThreads = 128;

struct Dirent64 {
  uint64_t ino;
  int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[1];
};

struct Location {
  uint32_t size = 0;
  uint32_t rva = 0;
};

// Sequential writer over the dump file, tracking its offset.
struct Writer {
  int fd;
  uint32_t offset = 0;
  bool ok = true;

  // Writes at the layout's offset, which advances by n whatever happens,
  // so every address already recorded stays right; after a failed write
  // nothing more is written and the dump is removed at the end.
  uint32_t Write(const void* data, size_t n) {
    const uint32_t at = offset;
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (ok && done < n) {
      // The raw system call: stacks hold bytes a memory checker would
      // refuse to let through an intercepted write.
      const long w = ::syscall(SYS_pwrite64, fd, p + done, n - done, static_cast<off_t>(at + done));
      if (w <= 0) {
        ok = false;
        break;
      }
      done += static_cast<size_t>(w);
    }
    offset += static_cast<uint32_t>(n);
    return at;
  }
  void Pad(size_t alignment) {
    static const char zeros[16] = {};
    const size_t extra = offset % alignment;
    if (extra != 0) Write(zeros, alignment - extra);
  }
  void Put(uint32_t at, const void* data, size_t n) {
    if (::pwrite(fd, data, n, at) != static_cast<ssize_t>(n)) ok = false;
  }
};

void Le16(char* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Le32(char* p, uint32_t v) { std::memcpy(p, &v, 4); }
void Le64(char* p, uint64_t v) { std::memcpy(p, &v, 8); }

uint64_t ParseHex(const char*& p, const char* end) {
  uint64_t v = 0;
  while (p < end) {
    const char c = *p;
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else {
      break;
    }
    v = v * 16 + static_cast<uint64_t>(d);
    ++p;
  }
  return v;
}

void ReadMaps() {
  g_mapsSize = 0;
  const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  for (;;) {
    const ssize_t n = ::read(fd, g_maps + g_mapsSize, sizeof g_maps - g_mapsSize);
    if (n <= 0) break;
    g_mapsSize += static_cast<size_t>(n);
    if (g_mapsSize == sizeof g_maps) break;
  }
  ::close(fd);
}

struct Mapping {
  uint64_t start, end, offset;
  bool bReadable;
  const char* path;  // inside g_maps, not terminated
  size_t pathLength;
};

// Calls f for every line of the memory map.
template <class F>
void ForEachMapping(F f) {
  const char* p = g_maps;
  const char* end = g_maps + g_mapsSize;
  while (p < end) {
    const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (lineEnd == nullptr) lineEnd = end;
    Mapping m{};
    const char* q = p;
    m.start = ParseHex(q, lineEnd);
    ++q;
    m.end = ParseHex(q, lineEnd);
    // Fields: perms, offset, dev, inode, path.
    int field = 0;
    while (q < lineEnd && field < 5) {
      while (q < lineEnd && *q == ' ') ++q;
      if (field == 0) m.bReadable = q < lineEnd && *q == 'r';
      if (field == 1) {
        m.offset = ParseHex(q, lineEnd);
      } else if (field == 4) {
        m.path = q;
        m.pathLength = static_cast<size_t>(lineEnd - q);
        break;
      } else {
        while (q < lineEnd && *q != ' ') ++q;
      }
      ++field;
    }
    f(m);
    p = lineEnd + 1;
  }
}

uint32_t WriteString(Writer& w, const char* text, size_t n) {
  w.Pad(4);
  char length[4];
  Le32(length, static_cast<uint32_t>(n * 2));
  const uint32_t at = w.Write(length, 4);
  for (size_t i = 0; i < n; ++i) {
    char unit[2] = {text[i], 0};
    w.Write(unit, 2);
  }
  const char zero[2] = {};
  w.Write(zero, 2);
  return at;
}

void FillContext(char* c, const ucontext_t* uc) {
  std::memset(c, 0, kContextSize);
#if defined(__x86_64__)
  const greg_t* g = uc->uc_mcontext.gregs;
  Le32(c + 48, 0x00100007);  // AMD64: control, integer and segment registers
  Le16(c + 56, static_cast<uint16_t>(g[REG_CSGSFS] & 0xFFFF));
  Le32(c + 68, static_cast<uint32_t>(g[REG_EFL]));
  const int order[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI,
                         REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};
  for (int i = 0; i < 16; ++i) Le64(c + 120 + 8 * i, static_cast<uint64_t>(g[order[i]]));
  Le64(c + 248, static_cast<uint64_t>(g[REG_RIP]));
#else
  (void)uc;
#endif
}

uint64_t StackPointer(const ucontext_t* uc) {
#if defined(__x86_64__)
  return static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RSP]);
#else
  (void)uc;
  return 0;
#endif
}

struct ThreadCapture {
  uint32_t tid = 0;
  std::atomic<int> state{0};  // 0 free, 1 asked, 2 captured
  uint64_t sp = 0;
  char context[kContextSize] = {};
};
// Zero at compile time, so its pages stay untouched until a crash.
constinit ThreadCapture g_threads[kMaxThreads];
std::atomic<int> g_release{0};
int g_captureSignal = 0;
char g_tasks[8192];

void Nap(long nanoseconds) {
  timespec ts{0, nanoseconds};
  ::nanosleep(&ts, nullptr);
}

// Runs on a thread asked for its registers: records them, then stays here
// so its stack does not change until the dump is written.
void OnCapture(int, siginfo_t*, void* context) {
  const auto self = static_cast<uint32_t>(::syscall(SYS_gettid));
  for (ThreadCapture& t : g_threads) {
    if (t.tid != self || t.state.load() != 1) continue;
    FillContext(t.context, static_cast<ucontext_t*>(context));
    t.sp = StackPointer(static_cast<ucontext_t*>(context));
    t.state.store(2);
    for (int waited = 0; g_release.load() == 0 && waited < 10000; ++waited) Nap(1000000);
    return;
  }
}

// Asks every other thread of the process for its registers; the captured
// ones fill g_threads from slot `first`. Returns how many were captured.
int CaptureOtherThreads(uint32_t self, int first) {
  const int dir = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || g_captureSignal == 0) return 0;
  int asked = first;
  for (;;) {
    const long n = ::syscall(SYS_getdents64, dir, g_tasks, sizeof g_tasks);
    if (n <= 0) break;
    for (long pos = 0; pos < n;) {
      const auto* e = reinterpret_cast<const struct Dirent64*>(g_tasks + pos);
      pos += e->reclen;
      uint32_t tid = 0;
      const char* p = e->name;
      if (*p < '0' || *p > '9') continue;
      while (*p >= '0' && *p <= '9') tid = tid * 10 + static_cast<uint32_t>(*p++ - '0');
      if (tid == self || asked == kMaxThreads) continue;
      g_threads[asked].tid = tid;
      g_threads[asked].state.store(1);
      ::syscall(SYS_tgkill, ::getpid(), tid, g_captureSignal);
      ++asked;
    }
  }
  ::close(dir);
  // Up to half a second for the threads to answer; those that do not are left out.
  for (int waited = 0; waited < 500; ++waited) {
    bool bAll = true;
    for (int i = first; i < asked; ++i) bAll = bAll && g_threads[i].state.load() == 2;
    if (bAll) break;
    Nap(1000000);
  }
  int captured = first;
  for (int i = first; i < asked; ++i) {
    if (g_threads[i].state.load() != 2) continue;
    if (captured != i) {
      g_threads[captured].tid = g_threads[i].tid;
      g_threads[captured].sp = g_threads[i].sp;
      std::memcpy(g_threads[captured].context, g_threads[i].context, kContextSize);
    }
    ++captured;
  }
  return captured - first;
}

void WriteDump(int signo, siginfo_t* info, ucontext_t* uc) {
  const int fd = ::open(g_fileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ReadMaps();
  Writer w{fd};
  char header[32] = {};
  w.Write(header, sizeof header);
  char directory[kStreams * 12] = {};
  const uint32_t directoryRva = w.Write(directory, sizeof directory);
  uint32_t entry = 0;
  auto addStream = [&](uint32_t type, uint32_t size, uint32_t rva) {
    Le32(directory + entry * 12, type);
    Le32(directory + entry * 12 + 4, size);
    Le32(directory + entry * 12 + 8, rva);
    ++entry;
  };

  // System information, with an empty service-pack string.
  const uint32_t csd = WriteString(w, "", 0);
  char system[56] = {};
  Le16(system + 0, 9);  // AMD64
  system[6] = static_cast<char>(::sysconf(_SC_NPROCESSORS_ONLN));
  utsname u{};
  ::uname(&u);
  Le32(system + 20, 0x8201);  // Linux
  Le32(system + 24, csd);
  w.Pad(4);
  addStream(kSystemInfoStream, sizeof system, w.Write(system, sizeof system));

  // Every thread: its context and the used part of its stack. The others
  // are stopped in their capture handlers until the dump is written.
  const auto tid = static_cast<uint32_t>(::syscall(SYS_gettid));
  int nThreads = 0;
  g_threads[nThreads].tid = tid;
  FillContext(g_threads[nThreads].context, uc);
  g_threads[nThreads].sp = StackPointer(uc);
  ++nThreads;
  nThreads += CaptureOtherThreads(tid, nThreads);

  uint32_t contextRva[kMaxThreads], stackRva[kMaxThreads], stackSize[kMaxThreads];
  uint64_t stackStart[kMaxThreads];
  for (int i = 0; i < nThreads; ++i) {
    w.Pad(16);
    contextRva[i] = w.Write(g_threads[i].context, kContextSize);
    uint64_t start = g_threads[i].sp;
    start = start > 128 ? start - 128 : 0;  // the red zone below it
    uint64_t end = start;
    // After a stack overflow the pointer sits in the guard page: the stack
    // that can be read begins where that page ends.
    ForEachMapping([&](const Mapping& m) {
      if (start >= m.start && start < m.end && !m.bReadable) start = end = m.end;
    });
    ForEachMapping([&](const Mapping& m) {
      if (start >= m.start && start < m.end && m.bReadable) end = m.end;
    });
    if (end - start > kMaxStack) end = start + kMaxStack;
    stackStart[i] = start;
    stackRva[i] = w.offset;
    if (end > start) w.Write(reinterpret_cast<const void*>(start), end - start);
    stackSize[i] = static_cast<uint32_t>(end - start);
  }

  w.Pad(4);
  char count[4];
  Le32(count, static_cast<uint32_t>(nThreads));
  const uint32_t threadListRva = w.Write(count, 4);
  for (int i = 0; i < nThreads; ++i) {
    char t[48] = {};
    Le32(t + 0, g_threads[i].tid);
    Le64(t + 24, stackStart[i]);
    Le32(t + 32, stackSize[i]);
    Le32(t + 36, stackRva[i]);
    Le32(t + 40, kContextSize);
    Le32(t + 44, contextRva[i]);
    w.Write(t, sizeof t);
  }
  addStream(kThreadListStream, 4 + 48 * static_cast<uint32_t>(nThreads), threadListRva);

  const uint32_t memoryListRva = w.Write(count, 4);
  for (int i = 0; i < nThreads; ++i) {
    char range[16] = {};
    Le64(range, stackStart[i]);
    Le32(range + 8, stackSize[i]);
    Le32(range + 12, stackRva[i]);
    w.Write(range, sizeof range);
  }
  addStream(kMemoryListStream, 4 + 16 * static_cast<uint32_t>(nThreads), memoryListRva);

  char exception[168] = {};
  Le32(exception + 0, tid);
  Le32(exception + 8, static_cast<uint32_t>(signo));
  Le32(exception + 12, static_cast<uint32_t>(info != nullptr ? info->si_code : 0));
  Le64(exception + 24, info != nullptr ? reinterpret_cast<uint64_t>(info->si_addr) : 0);
  Le32(exception + 160, kContextSize);
  Le32(exception + 164, contextRva[0]);
  addStream(kExceptionStream, sizeof exception, w.Write(exception, sizeof exception));

  // Loaded objects: the extent of every file mapped from offset 0.
  static uint64_t base[kMaxModules], top[kMaxModules];
  static const char* name[kMaxModules];
  static size_t nameLength[kMaxModules];
  static uint32_t nameRva[kMaxModules];
  int modules = 0;
  ForEachMapping([&](const Mapping& m) {
    if (m.pathLength == 0 || m.path[0] != '/') return;
    for (int i = 0; i < modules; ++i) {
      if (nameLength[i] == m.pathLength && std::memcmp(name[i], m.path, m.pathLength) == 0) {
        if (m.end > top[i]) top[i] = m.end;
        return;
      }
    }
    if (m.offset != 0 || modules == kMaxModules) return;
    base[modules] = m.start;
    top[modules] = m.end;
    name[modules] = m.path;
    nameLength[modules] = m.pathLength;
    ++modules;
  });
  for (int i = 0; i < modules; ++i) nameRva[i] = WriteString(w, name[i], nameLength[i]);
  w.Pad(4);
  Le32(count, static_cast<uint32_t>(modules));
  const uint32_t moduleRva = w.Write(count, 4);
  for (int i = 0; i < modules; ++i) {
    char module[108] = {};
    Le64(module + 0, base[i]);
    Le32(module + 8, static_cast<uint32_t>(top[i] - base[i]));
    Le32(module + 20, nameRva[i]);
    w.Write(module, sizeof module);
  }
  addStream(kModuleListStream, 4 + 108 * static_cast<uint32_t>(modules), moduleRva);

  char misc[24] = {};
  Le32(misc + 0, sizeof misc);
  Le32(misc + 4, 1);  // the process id is valid
  Le32(misc + 8, static_cast<uint32_t>(::getpid()));
  addStream(kMiscInfoStream, sizeof misc, w.Write(misc, sizeof misc));

  addStream(kLinuxMapsStream, static_cast<uint32_t>(g_mapsSize), w.Write(g_maps, g_mapsSize));

  Le32(header + 0, 0x504D444D);  // "MDMP"
  Le32(header + 4, 0xA793);
  Le32(header + 8, kStreams);
  Le32(header + 12, directoryRva);
  w.Put(0, header, sizeof header);
  w.Put(directoryRva, directory, sizeof directory);
  ::close(fd);
  // A dump with a hole (a full disk) would mislead whoever loads it.
  if (!w.ok) ::unlink(g_fileName);
}

void OnFatalSignal(int signo, siginfo_t* info, void* context) {
  WriteDump(signo, info, static_cast<ucontext_t*>(context));
  g_release.store(1);
  ::_exit(128 + signo);
}

}  // namespace

void InstallCrashDumpHandler(const char* fileName) {
  std::strncpy(g_fileName, fileName, sizeof g_fileName - 1);
  stack_t stack{};
  stack.ss_sp = g_altStack;
  stack.ss_size = sizeof g_altStack;
  ::sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_sigaction = OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signo : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) ::sigaction(signo, &action, nullptr);
  // A real-time signal of our own asks the other threads for their registers.
  g_captureSignal = SIGRTMIN + 7;
  struct sigaction capture {};
  capture.sa_sigaction = OnCapture;
  capture.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&capture.sa_mask);
  ::sigaction(g_captureSignal, &capture, nullptr);
}

}  // namespace platform
