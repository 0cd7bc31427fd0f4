#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/eintr_posix.h"
#include "platform/terminal.h"

namespace platform {

bool StandardErrorIsTerminal() { return ::isatty(2) == 1; }

int StandardErrorColumns() {
  if (::isatty(2) != 1) return 0;
  winsize size{};
  if (::ioctl(2, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool OpenPseudoTerminal(int columns, CFile* pMaster, CFile* pSlave) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return false;
  const char* name = ::grantpt(master) == 0 && ::unlockpt(master) == 0 ? ::ptsname(master) : nullptr;
  const int slave = name != nullptr ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  if (slave < 0) {
    ::close(master);
    return false;
  }
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = 24;
  ::ioctl(slave, TIOCSWINSZ, &size);
  *pMaster = CFile(FileHandle{master});
  *pSlave = CFile(FileHandle{slave});
  return true;
}

bool ReadAvailable(FileHandle h, uint32_t dwMilliseconds, std::string* pText) {
  const int fd = static_cast<int>(h.h);
  pollfd p{fd, POLLIN, 0};
  const int r = RetryOnInterrupt([&] { return ::poll(&p, 1, static_cast<int>(dwMilliseconds)); });
  if (r <= 0) return false;
  char buffer[4096];
  const ssize_t n = RetryOnInterrupt([&] { return ::read(fd, buffer, sizeof buffer); });
  if (n <= 0) return false;
  pText->append(buffer, static_cast<size_t>(n));
  return true;
}

void DetachStandardOutput() {
  std::fflush(stdout);
  const int fd = RetryOnInterrupt([] { return ::open("/dev/null", O_WRONLY | O_CLOEXEC); });
  if (fd < 0) return;
  RetryOnInterrupt([fd] { return ::dup2(fd, STDOUT_FILENO); });
  ::close(fd);
}

}  // namespace platform
