#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/eintr_posix.h"
#include "platform/environment.h"
#include "platform/instance_lock.h"

namespace platform {

bool AcquireInstanceLock(const std::string& name) {
  std::string folder = GetEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.empty()) folder = GetEnvironmentVariable("TMPDIR");
  if (folder.empty()) folder = "/tmp";
  // Deliberately never closed: the lock lives as long as the process.
  const int fd = ::open((folder + "/" + name + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;  // no place for a lock: do not refuse to run
  const int r = RetryOnInterrupt([&] { return ::flock(fd, LOCK_EX | LOCK_NB); });
  if (r != 0) {
    const bool bHeld = errno == EWOULDBLOCK;
    ::close(fd);
    return !bHeld;
  }
  return true;
}

}  // namespace platform
