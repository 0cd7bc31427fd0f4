#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/posix/eintr_posix.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/locked_file.h"

namespace platform {
namespace {

// Holds the lock file's lock for the life of the object.
class CFileLock {
 public:
  explicit CFileLock(const std::string& path) {
    fd_ = RetryOnInterrupt(
        [&] { return ::open(ToNativePath(path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); });
    if (fd_ < 0) {
      SetLastError(errno, "lock " + path);
      return;
    }
    if (RetryOnInterrupt([&] { return ::flock(fd_, LOCK_EX); }) != 0) {
      SetLastError(errno, "lock " + path);
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~CFileLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  CFileLock(const CFileLock&) = delete;
  CFileLock& operator=(const CFileLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The whole file into *pText; false on a read error (a missing file is
// empty).
bool ReadWhole(const std::string& path, std::string* pText) {
  pText->clear();
  FileHandle f = OpenFile(path, kFileRead, FileDisposition::kOpenExisting);
  if (!f.IsValid()) return !FileExists(path);
  char buffer[8192];
  bool ok = true;
  for (int64_t offset = 0;;) {
    const int64_t n = ReadFileAt(f, buffer, sizeof buffer, offset);
    if (n < 0) ok = false;
    if (n <= 0) break;
    pText->append(buffer, static_cast<size_t>(n));
    offset += n;
  }
  CloseFile(f);
  return ok;
}

}  // namespace

std::string ReadTextFile(const std::string& path) {
  std::string text;
  return ReadWhole(path, &text) ? text : std::string();
}

bool RewriteLocked(const std::string& path, const std::function<bool(std::string* pText)>& edit) {
  CFileLock lock(path);
  if (!lock.Held()) return false;
  std::string text;
  if (!ReadWhole(path, &text)) return false;
  if (!edit(&text)) return true;
  const std::string tmp = path + ".new";
  FileHandle f = OpenFile(tmp, kFileWrite, FileDisposition::kCreateAlways);
  bool ok = f.IsValid() && WriteFileAt(f, text.data(), text.size(), 0) == text.size() &&
            FlushFile(f);
  CloseFile(f);
  ok = ok && MoveFile(tmp, path);
  if (!ok) DeleteFile(tmp);
  return ok;
}

}  // namespace platform
