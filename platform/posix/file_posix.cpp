#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/file_primitives.h"
#include "platform/posix/eintr_posix.h"

namespace platform {

std::string ToSystemPath(const std::string& path) { return ToNativePath(path); }

FileHandle sys::OpenFile(const std::string& path, uint32_t access, FileDisposition disposition,
                         Outcome* pWhy) {
  int flags = O_CLOEXEC;
  if ((access & kFileRead) && (access & kFileWrite)) {
    flags |= O_RDWR;
  } else if (access & kFileWrite) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  switch (disposition) {
    case FileDisposition::kCreateAlways:
      flags |= O_CREAT | O_TRUNC;
      break;
    case FileDisposition::kOpenAlways:
      flags |= O_CREAT;
      break;
    case FileDisposition::kOpenExisting:
      break;
  }
  int fd = RetryOnInterrupt([&] { return ::open(ToNativePath(path).c_str(), flags, 0644); });
  if (fd < 0) {
    *pWhy = Outcome::System(errno, "open " + path);
  } else {
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      *pWhy = Outcome::System(EISDIR, "open " + path);
      ::close(fd);
      fd = -1;
    }
  }
  return FileHandle{fd};
}

void CloseFile(FileHandle& file) {
  if (file.IsValid()) ::close(static_cast<int>(file.h));
  file.h = -1;
}

int64_t sys::WriteSomeAt(FileHandle file, const void* data, size_t n, int64_t offset,
                         Outcome* pWhy) {
  const ssize_t r = RetryOnInterrupt(
      [&] { return ::pwrite(static_cast<int>(file.h), data, n, static_cast<off_t>(offset)); });
  if (r < 0) *pWhy = Outcome::System(errno, "write");
  return r;
}

int64_t sys::ReadSomeAt(FileHandle file, void* data, size_t n, int64_t offset, Outcome* pWhy) {
  const ssize_t r = RetryOnInterrupt(
      [&] { return ::pread(static_cast<int>(file.h), data, n, static_cast<off_t>(offset)); });
  if (r < 0) *pWhy = Outcome::System(errno, "read");
  return r;
}

Outcome sys::FlushFile(FileHandle file) {
  if (::fdatasync(static_cast<int>(file.h)) == 0) return Outcome::OK();
  return Outcome::System(errno, "flush");
}

void StartWriteBack(FileHandle file, int64_t offset, int64_t n) {
#ifdef __linux__
  if (file.IsValid()) ::sync_file_range(static_cast<int>(file.h), offset, n, SYNC_FILE_RANGE_WRITE);
#else
  (void)file, (void)offset, (void)n;
#endif
}

int64_t GetFileSize(FileHandle file) {
  struct stat st {};
  if (!file.IsValid() || fstat(static_cast<int>(file.h), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

Outcome SetFileSize(FileHandle file, int64_t size) {
  if (!file.IsValid() || size < 0)
    return Outcome::System(file.IsValid() ? EINVAL : EBADF, "set the size of a file");
  if (::ftruncate(static_cast<int>(file.h), static_cast<off_t>(size)) == 0) return Outcome::OK();
  return Outcome::System(errno, "set the size of a file");
}

Outcome sys::DeleteFile(const std::string& path) {
  if (::unlink(ToNativePath(path).c_str()) == 0) return Outcome::OK();
  return Outcome::System(errno, "delete " + path);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(ToNativePath(path).c_str(), &st) == 0;
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st {};
  return ::lstat(ToNativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool GetFileFacts(const std::string& path, FileFacts* pFacts, Outcome* pWhy) {
  struct stat st {};
  if (::stat(ToNativePath(path).c_str(), &st) != 0) {
    if (pWhy != nullptr) *pWhy = Outcome::System(errno, "stat " + path);
    return false;
  }
  pFacts->nModified = st.st_mtim.tv_sec;
  pFacts->nModifiedNs = static_cast<int32_t>(st.st_mtim.tv_nsec);
  pFacts->nSize = st.st_size;
  pFacts->bFile = S_ISREG(st.st_mode);
  pFacts->bExecutable = (st.st_mode & S_IXUSR) != 0;
  return true;
}

std::string FileNameKey(const std::string& path) { return path; }

bool IsWritableDirectory(const std::string& path) {
  return DirectoryExists(path) && ::access(ToNativePath(path).c_str(), W_OK | X_OK) == 0;
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return ::stat(ToNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Outcome sys::CreateDirectory(const std::string& path) {
  if (::mkdir(ToNativePath(path).c_str(), 0755) == 0) return Outcome::OK();
  return Outcome::System(errno, "mkdir " + path);
}

std::vector<DirEntry> ListDirectory(const std::string& path) {
  std::vector<DirEntry> entries;
  const std::string native = ToNativePath(path);
  DIR* dir = ::opendir(native.c_str());
  if (dir == nullptr) return entries;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    const bool bDir = ::lstat((native + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    entries.push_back({name, bDir});
  }
  ::closedir(dir);
  return entries;
}

FileHandle sys::CreateFileBeneath(const std::string& root, const std::string& relative,
                                  Outcome* pWhy) {
  int dir = ::open(ToNativePath(root).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    *pWhy = Outcome::System(errno, "open " + root);
    return FileHandle{};
  }
  std::string walked = root;
  size_t start = 0;
  for (;;) {
    const size_t end = relative.find('/', start);
    const std::string part = relative.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == "..") {
      ::close(dir);
      *pWhy = Outcome::System(EINVAL, "create " + root + "/" + relative);
      return FileHandle{};
    }
    walked += "/" + part;
    if (end == std::string::npos) {
      const int fd = RetryOnInterrupt([&] {
        return ::openat(dir, part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                        0644);
      });
      if (fd < 0) *pWhy = Outcome::System(errno, "create " + walked);
      ::close(dir);
      return FileHandle{fd};
    }
    if (::mkdirat(dir, part.c_str(), 0755) != 0 && errno != EEXIST) {
      *pWhy = Outcome::System(errno, "mkdir " + walked);
      ::close(dir);
      return FileHandle{};
    }
    // O_NOFOLLOW: a link where a folder should be fails here (ELOOP or
    // ENOTDIR) instead of leading out of root.
    const int next = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(dir);
    if (next < 0) {
      *pWhy = Outcome::System(errno, "open folder " + walked);
      return FileHandle{};
    }
    dir = next;
    start = end + 1;
  }
}

Outcome MarkFile(const std::string& path, FileMark mark) {
  const std::string native = ToNativePath(path);
  mode_t mode = S_IRUSR | S_IWUSR;
  if (mark == FileMark::kExecutable) {
    // Execute wherever read is granted, so a 0600 file stays its owner's.
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) return Outcome::System(errno, "mark " + path);
    const mode_t read = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    mode = st.st_mode | S_IXUSR | (read >> 2);
  }
  if (::chmod(native.c_str(), mode) == 0) return Outcome::OK();
  return Outcome::System(errno, "mark " + path);
}

namespace {

// A move across file systems: a copy beside the target, renamed over it,
// then the source deleted. The first failure is the move's.
Outcome CopyThenDelete(const std::string& from, const std::string& to) {
  Outcome why;
  CFile src(OpenFile(from, kFileRead, FileDisposition::kOpenExisting, &why));
  if (!src.IsValid()) return why;
  const std::string tmp = to + ".moving";
  CFile dst(OpenFile(tmp, kFileWrite, FileDisposition::kCreateAlways, &why));
  std::vector<char> buffer(1 << 16);
  for (int64_t offset = 0; why.ok();) {
    const int64_t n = ReadFileAt(src.Get(), buffer.data(), buffer.size(), offset, &why);
    if (n <= 0) break;
    WriteFileAt(dst.Get(), buffer.data(), static_cast<size_t>(n), offset, &why);
    offset += n;
  }
  if (why.ok()) why = FlushFile(dst.Get());
  src.Close();
  dst.Close();
  if (why.ok() && ::rename(ToNativePath(tmp).c_str(), ToNativePath(to).c_str()) != 0)
    why = Outcome::System(errno, "rename " + tmp + " to " + to);
  if (!why.ok()) {
    (void)DeleteFile(tmp);
    return why;
  }
  (void)DeleteFile(from);
  return Outcome::OK();
}

}  // namespace

Outcome sys::MoveFile(const std::string& from, const std::string& to) {
  if (::rename(ToNativePath(from).c_str(), ToNativePath(to).c_str()) == 0) return Outcome::OK();
  const int nError = errno;
  if (nError != EXDEV) return Outcome::System(nError, "rename " + from + " to " + to);
  return CopyThenDelete(from, to);
}

}  // namespace platform
