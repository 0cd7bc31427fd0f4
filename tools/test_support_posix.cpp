// The parts of test support that only this system has: the superuser,
// file owners, pseudo-terminals and symbolic links.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/registry.h"
#include "tools/test_support.h"

namespace tools {

bool RunningAsSuperuser() { return ::geteuid() == 0; }

bool GiveToNobody(const std::string& path) { return ::chown(path.c_str(), 65534, 65534) == 0; }

bool OpenPseudoTerminal(int columns, platform::CFile* pMaster, platform::CFile* pSlave) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return false;
  const char* name =
      ::grantpt(master) == 0 && ::unlockpt(master) == 0 ? ::ptsname(master) : nullptr;
  const int slave = name != nullptr ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  if (slave < 0) {
    ::close(master);
    return false;
  }
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = 24;
  ::ioctl(slave, TIOCSWINSZ, &size);
  *pMaster = platform::CFile(platform::FileHandle{master});
  *pSlave = platform::CFile(platform::FileHandle{slave});
  return true;
}

bool ReadAvailable(platform::FileHandle h, uint32_t dwMilliseconds, std::string* pText) {
  const int fd = static_cast<int>(h.h);
  pollfd p{fd, POLLIN, 0};
  int r;
  do r = ::poll(&p, 1, static_cast<int>(dwMilliseconds));
  while (r < 0 && errno == EINTR);
  if (r <= 0) return false;
  char buffer[4096];
  ssize_t n;
  do n = ::read(fd, buffer, sizeof buffer);
  while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  pText->append(buffer, static_cast<size_t>(n));
  return true;
}

bool CreateSymbolicLink(const std::string& target, const std::string& linkPath) {
  return ::symlink(target.c_str(), linkPath.c_str()) == 0;
}

std::string ClientStandInBytes() {
  return "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/started.txt\"\n";
}

platform::ProcessId StartRunningStandIn(const std::string& path) {
  WriteWholeFile(path, ReadWholeFile("/bin/sleep"));
  platform::MarkFile(path, platform::FileMark::kExecutable);
  return platform::StartProcess(path, {path, "30"}, "");
}

void ForgetRegistry() { platform::DeleteFile(platform::RegistryFilePath()); }

}  // namespace tools
