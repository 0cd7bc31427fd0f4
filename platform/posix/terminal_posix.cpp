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

void DetachStandardOutput() {
  std::fflush(stdout);
  const int fd = RetryOnInterrupt([] { return ::open("/dev/null", O_WRONLY | O_CLOEXEC); });
  if (fd < 0) return;
  RetryOnInterrupt([fd] { return ::dup2(fd, STDOUT_FILENO); });
  ::close(fd);
}

}  // namespace platform
