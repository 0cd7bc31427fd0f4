#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/environment.h"
#include "platform/process.h"

extern char** environ;

namespace platform {

ProcessId StartProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::string& workingFolder) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!workingFolder.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
  pid_t pid = -1;
  int r = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
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

bool TerminateProcess(ProcessId pid) { return pid > 0 && ::kill(pid, SIGKILL) == 0; }

std::string GetModuleFileName() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n <= 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

}  // namespace platform
