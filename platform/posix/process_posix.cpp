#include <signal.h>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/eintr_posix.h"
#include "platform/env.h"
#include "platform/machine.h"
#include "platform/environment.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/process.h"

extern char** environ;

namespace platform {

ProcessId StartProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::string& workingFolder, Outcome* pWhy) {
  return StartProcessWithStdio(program, args, workingFolder, StandardHandles{}, pWhy);
}

namespace {

// One spawn for every way of starting: the argument vector, the working
// folder, standard handles to pass (invalid: ours) and, when detached, a
// session of its own.
ProcessId Spawn(const std::string& program, const std::vector<std::string>& args,
                const std::string& workingFolder, const StandardHandles& handles, bool bDetached,
                Outcome* pWhy) {
  const intptr_t stdio[3] = {handles.in.h, handles.out.h, handles.err.h};
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!workingFolder.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, ToNativePath(workingFolder).c_str());
  }
  for (int i = 0; i < 3; ++i) {
    if (stdio[i] >= 0) posix_spawn_file_actions_adddup2(&actions, static_cast<int>(stdio[i]), i);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (bDetached) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  const int r = ::posix_spawn(&pid, ToNativePath(program).c_str(), &actions, &attributes,
                              argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (r != 0) {
    if (pWhy != nullptr) *pWhy = Outcome::System(r, program);
    return kInvalidProcess;
  }
  return pid;
}

}  // namespace

ProcessId StartDetachedProcess(const std::string& program, const std::vector<std::string>& args,
                               const std::string& workingFolder, Outcome* pWhy) {
  // A session of its own: closing the terminal qarnauto ran in, or ending
  // its process group, leaves the client running.
  return Spawn(program, args, workingFolder, StandardHandles{}, true, pWhy);
}

std::string FindProgramOnPath(const std::string& name) {
  if (name.empty()) return std::string();
  if (name.find('/') != std::string::npos) {
    return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
  }
  const std::string path = GetEnvironmentVariable("PATH");
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find(':', at);
    if (end == std::string::npos) end = path.size();
    const std::string folder = end > at ? path.substr(at, end - at) : ".";
    const std::string candidate = folder + "/" + name;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    at = end + 1;
  }
  return std::string();
}

ProcessId StartProcessWithStdio(const std::string& program, const std::vector<std::string>& args,
                                const std::string& workingFolder, const StandardHandles& stdio,
                                Outcome* pWhy) {
  return Spawn(program, args, workingFolder, stdio, false, pWhy);
}

namespace {

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

int WaitProcess(ProcessId pid) {
  int status = 0;
  const pid_t r = RetryOnInterrupt([&] { return ::waitpid(pid, &status, 0); });
  if (r < 0) return -1;
  return ExitCodeOf(status);
}

bool PollProcess(ProcessId pid, int* pCode) {
  int status = 0;
  const pid_t r = RetryOnInterrupt([&] { return ::waitpid(pid, &status, WNOHANG); });
  if (r == 0) return true;
  *pCode = r < 0 ? -1 : ExitCodeOf(status);
  return false;
}

namespace {

// The parent of a process, from /proc/PID/stat ("pid (name) state ppid ...").
long ParentOf(const std::string& base) {
  FILE* f = std::fopen((base + "/stat").c_str(), "rb");
  if (f == nullptr) return -1;
  char stat[512] = {};
  const size_t n = std::fread(stat, 1, sizeof stat - 1, f);
  std::fclose(f);
  const char* close = static_cast<const char*>(memrchr(stat, ')', n));
  long ppid = -1;
  if (close != nullptr) std::sscanf(close + 1, " %*c %ld", &ppid);
  return ppid;
}

// True when the process was started with `entry` ("NAME=value") in its
// environment. Wine starts a Windows program through a launcher that has
// already ended, so the program is nobody's child, but it inherits the
// environment.
bool StartedWithEnvironment(const std::string& base, const std::string& entry) {
  FILE* f = std::fopen((base + "/environ").c_str(), "rb");
  if (f == nullptr) return false;
  std::string text;
  char chunk[8192];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
  std::fclose(f);
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\0', at), text.size());
    if (text.compare(at, end - at, entry) == 0) return true;
    at = end + 1;
  }
  return false;
}

// The whole first line of a small /proc file ("comm"), or the first
// zero-ended field of "cmdline".
std::string ReadProcField(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::string();
  char text[4096] = {};
  const size_t got = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  std::string field(text, strnlen(text, got));
  if (!field.empty() && field.back() == '\n') field.pop_back();
  return field;
}

// A Windows program under Wine runs in Wine's loader ("wine64",
// "wine-preloader", ...): its name is the last component of the Windows
// path it was started as, or its thread name when that says nothing.
bool IsWineLoader(const std::string& name) {
  return name.rfind("wine", 0) == 0 && name.rfind("wineserver", 0) != 0;
}

std::string WineProgramName(const std::string& base) {
  const std::string arg0 = ReadProcField(base + "/cmdline");
  const std::string last = arg0.substr(arg0.find_last_of("\\/") + 1);
  if (!last.empty() && !IsWineLoader(last)) return last;
  return ReadProcField(base + "/comm");
}

}  // namespace

ProcessId GetCurrentProcessId() { return ::getpid(); }

std::vector<ProcessEntry> SnapshotProcesses() { return CurrentEnv().Processes(); }

std::vector<ProcessEntry> MachineProcessSnapshot() {
  std::vector<ProcessEntry> processes;
  const std::string scope = GetEnvironmentVariable(kProcessScopeVariable);
  const long scopeParent = scope.empty() ? -1 : std::strtol(scope.c_str(), nullptr, 10);
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return processes;
  while (dirent* e = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    const std::string base = std::string("/proc/") + e->d_name;
    if (scopeParent > 0 && ParentOf(base) != scopeParent &&
        !StartedWithEnvironment(base, std::string(kProcessScopeVariable) + "=" + scope)) {
      continue;
    }
    char link[4096];
    ssize_t n = ::readlink((base + "/exe").c_str(), link, sizeof link - 1);
    std::string path;
    if (n > 0) {
      path.assign(link, static_cast<size_t>(n));
      // A replaced executable reads as "<path> (deleted)".
      const std::string deleted = " (deleted)";
      if (path.size() > deleted.size() &&
          path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
        path.resize(path.size() - deleted.size());
      }
    } else {
      path = ReadProcField(base + "/cmdline");
    }
    if (path.empty()) continue;
    std::string name = path.substr(path.rfind('/') + 1);
    if (IsWineLoader(name)) name = WineProgramName(base);
    if (name.empty()) continue;
    processes.push_back({static_cast<ProcessId>(pid), name});
  }
  ::closedir(proc);
  return processes;
}

Outcome CreatePipe(Pipe* pPipe) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return Outcome::System(errno, "pipe");
  pPipe->readEnd = CFile(FileHandle{fds[0]});
  pPipe->writeEnd = CFile(FileHandle{fds[1]});
  return Outcome::OK();
}

int64_t ReadPipe(FileHandle h, void* buffer, size_t n) {
  const ssize_t r = RetryOnInterrupt([&] { return ::read(static_cast<int>(h.h), buffer, n); });
  return r;
}

void ExitProcess(int nCode) { ::_exit(nCode); }

bool TerminateProcess(ProcessId pid) { return pid > 0 && ::kill(pid, SIGKILL) == 0; }

PrivilegeResult EnablePrivilege(const char*) { return PrivilegeResult::kEnabled; }

std::string GetModuleFileName() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n <= 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

std::string GetModuleFolder() {
  const std::string exe = GetModuleFileName();
  return exe.substr(0, exe.rfind('/') + 1);
}

}  // namespace platform
