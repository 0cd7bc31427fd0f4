#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/file_lock.h"
#include "platform/posix/eintr_posix.h"

namespace platform {

CFileLock::CFileLock(const std::string& path) {
  const int fd = RetryOnInterrupt([&] {
    return ::open(ToNativePath(path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  });
  if (fd < 0) {
    why_ = Outcome::System(errno, "lock " + path);
    return;
  }
  file_ = CFile(FileHandle{fd});
  if (RetryOnInterrupt([&] { return ::flock(fd, LOCK_EX); }) != 0) {
    why_ = Outcome::System(errno, "lock " + path);
  }
}

// Closing the lock file releases the lock.
CFileLock::~CFileLock() = default;

}  // namespace platform
