#include <signal.h>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"

extern char** environ;

namespace platform {

ProcessId StartProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::string& workingFolder) {
  return StartProcessWithStdio(program, args, workingFolder, -1, -1, -1);
}

ProcessId StartProcessWithStdio(const std::string& program, const std::vector<std::string>& args,
                                const std::string& workingFolder, int stdinFd, int stdoutFd,
                                int stderrFd) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!workingFolder.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, ToNativePath(workingFolder).c_str());
  }
  if (stdinFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, 2);
  pid_t pid = -1;
  int r = ::posix_spawn(&pid, ToNativePath(program).c_str(), &actions, nullptr, argv.data(),
                        environ);
  posix_spawn_file_actions_destroy(&actions);
  return r == 0 ? pid : kInvalidProcess;
}

int WaitProcess(ProcessId pid) {
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
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

}  // namespace

ProcessId GetCurrentProcessId() { return ::getpid(); }

std::vector<ProcessEntry> SnapshotProcesses() {
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
    if (scopeParent > 0 && ParentOf(base) != scopeParent) continue;
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
    } else if (FILE* f = std::fopen((base + "/cmdline").c_str(), "rb")) {
      char arg0[4096] = {};
      const size_t got = std::fread(arg0, 1, sizeof arg0 - 1, f);
      std::fclose(f);
      path.assign(arg0, strnlen(arg0, got));
    }
    if (path.empty()) continue;
    processes.push_back({static_cast<ProcessId>(pid), path.substr(path.rfind('/') + 1)});
  }
  ::closedir(proc);
  return processes;
}

bool CreatePipe(int (&fds)[2]) { return ::pipe2(fds, O_CLOEXEC) == 0; }

int64_t ReadPipe(int fd, void* buffer, size_t n) {
  ssize_t r;
  do {
    r = ::read(fd, buffer, n);
  } while (r < 0 && errno == EINTR);
  return r;
}

void ClosePipe(int fd) {
  if (fd >= 0) ::close(fd);
}

void ExitProcess(int nCode) { ::_exit(nCode); }

bool TerminateProcess(ProcessId pid) { return pid > 0 && ::kill(pid, SIGKILL) == 0; }

std::string GetModuleFileName() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n <= 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

}  // namespace platform
