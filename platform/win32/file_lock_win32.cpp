#include "platform/win32/win32_prelude.h"

#include "platform/error.h"
#include "platform/file_lock.h"
#include "platform/win32/win32_util.h"

namespace platform {

CFileLock::CFileLock(const std::string& path) {
  const HANDLE h = ::CreateFileW(WidePath(path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    why_ = Outcome::System(static_cast<int>(::GetLastError()), "lock " + path);
    return;
  }
  file_ = CFile(FileHandle{FromHandle(h)});
  OVERLAPPED whole{};
  if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole)) {
    why_ = Outcome::System(static_cast<int>(::GetLastError()), "lock " + path);
  }
}

// Closing the lock file releases the lock.
CFileLock::~CFileLock() = default;

}  // namespace platform
